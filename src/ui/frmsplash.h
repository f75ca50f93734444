#pragma once

#include "core/clientservices.h"

#include <QDialog>

#include <functional>

class QFrame;
class QLabel;
class QPushButton;

namespace airmesh {
inline namespace ui {

// The first window of every run: the product, its version and terms, and the choice between
// agreeing (after which the simulator folder must be known and valid) and quitting. It hides
// itself once the user has settled; start-up then reads blnQuit() and strFSDir().
class FrmSplash : public QDialog {
    Q_OBJECT

public:
    // Window size in pixels (7260 x 4245 twips at 15 twips a pixel).
    static constexpr QSize kClientSize{484, 283};

    // The folder picker: the chosen folder, or an empty text when the user cancelled.
    using FolderPicker = std::function<QString(QWidget* parent)>;

    explicit FrmSplash(ClientServices& services, QWidget* parent = nullptr);

    // Replaces the system's folder picker; an empty function restores it.
    void setFolderPicker(FolderPicker picker);

    // True once the user declined (the quit button, Esc or the close box).
    bool blnQuit() const { return m_blnQuit; }
    // The simulator folder as a local path ending in '/', once the user agreed; empty before.
    QString strFSDir() const { return m_strFSDir; }

    QPushButton* cmdIAgree() const { return m_cmdIAgree; }
    QPushButton* cmdCancel() const { return m_cmdCancel; }
    QLabel* lblVersion() const { return m_lblVersion; }

    // The system's folder picker, started where a Wine installation keeps its C: drive.
    static QString BrowseForFolder(QWidget* parent);

    // Every way of declining ends here: the quit button, Esc and the close box. (QDialog's
    // slot, so invoking "reject" by name lands here too.)
    void reject() override;

private:
    void cmdIAgree_Click();

    ClientServices& m_services;
    FolderPicker m_picker;
    bool m_blnQuit = false;
    QString m_strFSDir;

    QFrame* m_frame1 = nullptr;
    QLabel* m_lblVersion = nullptr;
    QPushButton* m_cmdIAgree = nullptr;
    QPushButton* m_cmdCancel = nullptr;
};

} // namespace ui
} // namespace airmesh
