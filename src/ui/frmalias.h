#pragma once

#include "core/clientservices.h"
#include "hangar/hangar.h"
#include "registry/players.h"

#include <QDialog>
#include <QPointer>

class QComboBox;
class QListWidget;
class QPushButton;

namespace airmesh {
inline namespace ui {

// Lets the user choose, for the aircraft of each remote player online, a local aircraft from
// the hangar to be shown in its place. Modeless; closing it unloads (deletes) it.
class FrmAlias : public QDialog {
    Q_OBJECT

public:
    // Window size in pixels (8445 x 4200 twips at 15 twips a pixel).
    static constexpr QSize kClientSize{563, 280};

    // Loads the dialog: the hangar's titles into the drop-down list, then Load_List().
    FrmAlias(ClientServices& services, Players& players, const Hangar& hangar, QWidget* parent = nullptr);

    // Refills the player list from the registry, one line "handle: title -> alias" each, and
    // resets the drop-down list and the Set button.
    void Load_List();

    QListWidget* List1() const { return m_List1; }
    QComboBox* cboHangar() const { return m_cboHangar; }
    QPushButton* cmdSet() const { return m_cmdSet; }
    QPushButton* cmdClose() const { return m_cmdClose; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void List1_Click();
    void cmdSet_Click();

    ClientServices& m_services;
    Players& m_players;

    QListWidget* m_List1 = nullptr;
    QComboBox* m_cboHangar = nullptr;
    QPushButton* m_cmdSet = nullptr;
    QPushButton* m_cmdClose = nullptr;
};

// The Aliasing button: with no remote player, a message and no dialog; otherwise the dialog
// that is open, shown as it is, or a new one loaded and shown.
void openAliasDialog(ClientServices& services, Players& players, const Hangar& hangar, QPointer<FrmAlias>& dialog,
                     QWidget* parent);

} // namespace ui
} // namespace airmesh
