#pragma once

#include "core/clientservices.h"
#include "hangar/hangarscan.h"
#include "serverlink/linkstate.h"
#include "serverlink/serverlink.h"

#include <QWidget>

#include <array>
#include <functional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace airmesh {
inline namespace ui {

// The client's main window: server address, pilot ID and password, the Connect, Aliasing and
// Cancel buttons, the traffic light and the status line. It shows each state the server link
// reports, as LinkView has it, and hands every button press to the callbacks that start-up
// sets; it keeps no link state of its own.
class FrmMain : public QWidget, public StatusSink {
    Q_OBJECT

public:
    // Window size in pixels (10440 x 2490 twips at 15 twips a pixel).
    static constexpr QSize kClientSize{696, 166};

    // Shows an idle link until told otherwise.
    explicit FrmMain(ClientServices& services, QWidget* parent = nullptr);

    // Connect pressed (button, Alt+T or Enter): the three entries are kept in the settings file,
    // and the link gets them with the ports the file names (connectSettings).
    std::function<void(const ServerSettings& settings)> onConnect;
    std::function<void()> onAlias;
    // The Traffic window asked for: a click on the traffic light, or Ctrl+T.
    std::function<void()> onTraffic;
    std::function<void()> onCancel;
    // The window's close box.
    std::function<void()> onClosed;

    // The server link's settings for a Connect with these entries: the entries kept in the
    // settings file, and the address and ports as the file then reads.
    static ServerSettings connectSettings(INIFiles& ini, const QString& hostIP, const QString& pilotId,
                                          const QString& password);

    // Sets the product line, centres the window by its frame on the screen and fills the three
    // fields from the settings file.
    void load();

    // The server link's state and status text (ServerLink::stateChanged).
    void showLinkState(LinkState state, const QString& statusText);

    // The status line, painted at once: the hangar scan reports here without letting
    // events run.
    void setStatus(const QString& text) override;

    QLineEdit* txtHostIP() const { return m_txtHostIP; }
    QLineEdit* txtPID() const { return m_txtPID; }
    QLineEdit* txtPWD() const { return m_txtPWD; }
    QPushButton* cmdConnect() const { return m_cmdConnect; }
    QPushButton* cmdAlias() const { return m_cmdAlias; }
    QPushButton* cmdCancel() const { return m_cmdCancel; }
    QLabel* lblStatus() const { return m_lblStatus; }
    // The index of the one traffic-light picture shown, or -1 unless exactly one is shown.
    int visiblePicture() const;

    // What the traffic light says when the pointer rests on it.
    static QString trafficLightTip();

    // The product line: name, notice and "Ver:" with the program's version.
    static QString productLine();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();

    ClientServices& m_services;

    QLabel* m_lblProductDescr = nullptr;
    QFrame* m_line1 = nullptr;
    QLineEdit* m_txtHostIP = nullptr;
    QLineEdit* m_txtPID = nullptr;
    QLineEdit* m_txtPWD = nullptr;
    QPushButton* m_cmdConnect = nullptr;
    QPushButton* m_cmdAlias = nullptr;
    QPushButton* m_cmdCancel = nullptr;
    std::array<QLabel*, 3> m_connStatus{};
    QLabel* m_lblStatus = nullptr;
    QLabel* m_image1 = nullptr;
};

} // namespace ui
} // namespace airmesh
