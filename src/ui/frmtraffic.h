#pragma once

#include "core/clientservices.h"
#include "relay/traffic.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QSplitter;
class QTableView;
class QTimer;

namespace airmesh {
inline namespace registry {
class Players;
} // namespace registry
inline namespace relay {
class Relay;
} // namespace relay

inline namespace ui {
class TrafficScope;

// Who is flying where: the user's own aircraft on a line at the top, then one row per remote
// pilot online (handle, the aircraft he flies, the local aircraft shown for it, whether he is in
// FS, distance and bearing from the user, altitude, heading, ground speed, seconds since last
// heard), nearest first; a line says how many are shown when some wait for a place. Beside the
// table, the scope draws the same pilots around the user's aircraft; a pilot chosen in one is
// chosen in the other. The splitter between them, and the scope's range, are kept too.
// Modeless; refreshed once a second while it is shown and not at all while it is not. Its
// place and size, and whether it was open, are kept in the settings file.
class FrmTraffic : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 1000;
    static constexpr QSize kDefaultSize{1280, 420};
    enum Column { Pilot, Aircraft, ShownAs, Place, Distance, Bearing, Altitude, Heading, Speed, Heard, kColumns };

    FrmTraffic(ClientServices& services, const Players& players, const Relay& relay, QWidget* parent = nullptr);

    // Fills the window from the registry and the user's last position, as of now.
    void refresh();
    // Writes the window's place and size, and whether it is to open at the next start.
    void rememberPlace(bool open);

    QLabel* lblOwn() const { return m_lblOwn; }
    QLabel* lblShown() const { return m_lblShown; }
    QTableView* table() const { return m_table; }
    TrafficScope* scope() const { return m_scope; }
    QSplitter* splitter() const { return m_splitter; }
    // The scope is drawn, or folded away.
    void setScopeShown(bool shown);
    // The text of one cell as shown.
    QString cellText(int row, int column) const;
    int rowCount() const;
    bool refreshing() const;

    // How the picture reads: the user's line and a row's cells.
    static QString ownLine(const TrafficPicture& picture);
    // "14 of 20 pilots are shown in FS (its session is full)"; empty when nobody waits.
    static QString shownLine(const TrafficPicture& picture, int maxShown);
    static QStringList cells(const TrafficRow& row);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void restorePlace();
    // The table's row of a pilot; -1 when he is not listed.
    int rowOf(const QString& handle) const;

    ClientServices& m_services;
    const Players& m_players;
    const Relay& m_relay;
    QLabel* m_lblOwn = nullptr;
    QLabel* m_lblShown = nullptr;
    class Model;
    Model* m_model = nullptr;
    QTableView* m_table = nullptr;
    TrafficScope* m_scope = nullptr;
    QSplitter* m_splitter = nullptr;
    QTimer* m_timer = nullptr;
};

// The Traffic window (a click on the traffic light, Ctrl+T): the one that is open, raised, or
// a new one made and shown.
void openTrafficWindow(ClientServices& services, const Players& players, const Relay& relay,
                       QPointer<FrmTraffic>& window, QWidget* parent);

// Whether the settings ask for the Traffic window at start.
bool trafficWindowWanted(const INIFiles& ini);

} // namespace ui
} // namespace airmesh
