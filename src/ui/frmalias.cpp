#include "frmalias.h"

#include "core/settings.h"

#include "artwork.h"
#include "placement.h"

#include "core/text.h"
#include "hangar/aliases.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>

namespace airmesh {
inline namespace ui {

namespace {

const QString kError = QStringLiteral("ERROR");
const QString kTitle = QStringLiteral("Airmesh");
const QString kNoPlayers = QStringLiteral("Aliasing is not possible as there are no other Airmesh players online to "
                                          "alias. Try again when another player has connected");
const QString kChooseAircraft =
    QStringLiteral("You have to choose an aircraft from the drop down list to alias this aircraft with");
const QString kTitleNotFound =
    QStringLiteral("Error occured identifying the players original aircraft name. Try again");
const QString kAliasSet = QStringLiteral("Aliasing set, players aircraft may take up to 60 secs to change");
const QString kNotSaved = QStringLiteral("The alias could not be saved in the settings file. Check that the file "
                                         "can be written and try again");

// Each line keeps the remote title it shows, so that Set never has to take it back out of a
// text that the pilot's handle or the title itself could make ambiguous.
constexpr int kTitleRole = Qt::UserRole;

// The order of a sorted list box: letter case ignored, ties in a fixed order.
bool listOrder(const QString& a, const QString& b) {
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

FrmAlias::FrmAlias(ClientServices& services, Players& players, const Hangar& hangar, QWidget* parent)
    : QDialog(parent), m_services(services), m_players(players) {
    setObjectName(QStringLiteral("frmAlias"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Aircraft Aliasing"));
    artwork::fixedWhiteDialog(this, kClientSize);
    setModal(false);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    setFont(font);

    // Places in pixels, from the dialog's design in twips (15 to a pixel); the labels are given
    // the room that the wider sans-serif fonts of Linux need for their texts.
    makeLabel(this, QStringLiteral("Label2"),
              QStringLiteral("Listed below are the aircraft currently active in your Airmesh session. You can alias "
                             "them to another aircraft in your hangar by using the buttons below. Choose a player a/c "
                             "and then choose one in your hangar to alias."),
              QRect(12, 4, 539, 40));
    makeLabel(this, QStringLiteral("Label1"), QStringLiteral("Currently Active Player Aircraft:"),
              QRect(18, 45, 300, 17));
    m_List1 = new QListWidget(this);
    m_List1->setObjectName(QStringLiteral("List1"));
    m_List1->setGeometry(QRect(18, 64, 511, 97));
    m_List1->setSelectionMode(QAbstractItemView::SingleSelection);
    makeLabel(this, QStringLiteral("lbl"), QStringLiteral("Alias to following aircraft:"), QRect(18, 194, 142, 17));
    m_cboHangar = new QComboBox(this);
    m_cboHangar->setObjectName(QStringLiteral("cboHangar"));
    m_cboHangar->setEditable(false);
    m_cboHangar->setGeometry(QRect(162, 191, 235, 23));
    m_cmdSet = new QPushButton(QStringLiteral("&Set"), this);
    m_cmdSet->setObjectName(QStringLiteral("cmdSet"));
    m_cmdSet->setGeometry(QRect(402, 190, 97, 23));
    QLabel* label3 = makeLabel(this, QStringLiteral("Label3"),
                               QStringLiteral("NOTE: Setting one players aircraft to an alias sets all other players "
                                              "of same aircraft type at the same time."),
                               QRect(18, 232, 405, 40));
    QFont bold = font;
    bold.setBold(true);
    label3->setFont(bold);
    QPalette red = label3->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    label3->setPalette(red);
    m_cmdClose = new QPushButton(QStringLiteral("&Close"), this);
    m_cmdClose->setObjectName(QStringLiteral("cmdClose"));
    m_cmdClose->setGeometry(QRect(438, 234, 79, 31));

    setTabOrder(m_cmdClose, m_List1);
    setTabOrder(m_List1, m_cboHangar);
    setTabOrder(m_cboHangar, m_cmdSet);
    m_cmdClose->setFocus();

    connect(m_List1, &QListWidget::itemSelectionChanged, this, &FrmAlias::List1_Click);
    connect(m_cmdSet, &QPushButton::clicked, this, &FrmAlias::cmdSet_Click);
    connect(m_cmdClose, &QPushButton::clicked, this, &QWidget::close);

    centreOnScreen(this, ScreenArea::WorkArea);

    // Load: the hangar's titles, then the players.
    QStringList titles;
    for (const Hangar::AircraftPtr& aircraft : hangar.NewEnum()) {
        titles.append(aircraft->Title);
    }
    std::stable_sort(titles.begin(), titles.end(), listOrder);
    m_cboHangar->addItems(titles);
    Load_List();
}

void FrmAlias::Load_List() {
    m_List1->clear();
    m_cboHangar->setCurrentIndex(-1);
    m_cboHangar->setEnabled(false);
    m_cmdSet->setEnabled(false);

    struct Line {
        QString text;
        QString title;
    };
    std::vector<Line> lines;
    for (const Players::PlayerPtr& player : m_players.NewEnum()) {
        if (!player->Rcv_Detailed_Info || trimSpaces(player->Aircraft_Name).isEmpty()) {
            continue;
        }
        // Remote titles may end with the NUL that ended them on the wire.
        QString title = trimSpaces(player->Aircraft_Name);
        if (title.back().unicode() < 13) {
            title.chop(1);
        }
        const QString alias = GetAlias(m_services.objINI, title);
        // What the simulator shows when it is not an installed alias of the user's: the
        // automatic choice, which Set overrides.
        const QString& shown = player->shownTitle;
        const bool aliasInstalled = alias != title && m_cboHangar->findText(alias, Qt::MatchFixedString) >= 0;
        const bool automatic = !aliasInstalled && !shown.isEmpty() && shown != alias && shown != title;
        lines.push_back(
            {player->PlayerHandle + QStringLiteral(": ") + title + QStringLiteral(" -> ") +
                 (automatic
                      ? shown + QStringLiteral(" (automatic") +
                            (player->shownReason.isEmpty() ? QString() : QStringLiteral(": ") + player->shownReason) +
                            QLatin1Char(')')
                      : alias),
             title});
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const Line& a, const Line& b) { return listOrder(a.text, b.text); });
    for (const Line& line : lines) {
        auto* item = new QListWidgetItem(line.text, m_List1);
        item->setData(kTitleRole, line.title);
    }
}

void FrmAlias::List1_Click() {
    if (m_List1->selectedItems().isEmpty()) {
        return;
    }
    m_cmdSet->setEnabled(true);
    m_cboHangar->setEnabled(true);
}

void FrmAlias::cmdSet_Click() {
    if (m_cboHangar->currentIndex() < 0) {
        m_services.messages.showMessage(kChooseAircraft, kError);
        return;
    }
    const QList<QListWidgetItem*> selected = m_List1->selectedItems();
    const QString title = selected.isEmpty() ? QString() : selected.front()->data(kTitleRole).toString();
    // A title this short is not told apart from the line's separators.
    if (title.size() < 2) {
        m_services.messages.showMessage(kTitleNotFound, kError);
        close();
        return;
    }
    if (!m_services.objINI.WriteINI(QLatin1String(setting::kAliasing), trimSpaces(title), m_cboHangar->currentText())) {
        m_services.messages.showMessage(kNotSaved, kError);
        return;
    }
    // The message box lets events run, and the main window may unload this dialog meanwhile.
    const QPointer<FrmAlias> self(this);
    m_services.messages.showMessage(kAliasSet, kTitle);
    if (self) {
        Load_List();
    }
}

void FrmAlias::keyPressEvent(QKeyEvent* event) {
    // Esc closes the dialog as Close does; a dialog merely hidden would stay loaded.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

void openAliasDialog(ClientServices& services, Players& players, const Hangar& hangar, QPointer<FrmAlias>& dialog,
                     QWidget* parent) {
    if (players.Count() == 0) {
        services.messages.showMessage(kNoPlayers, kTitle);
        return;
    }
    if (dialog && dialog->isVisible()) {
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
        return;
    }
    // A dialog that is closed but not yet deleted is on its way out: load a new one.
    if (dialog) {
        dialog->deleteLater();
    }
    dialog = new FrmAlias(services, players, hangar, parent);
    dialog->show();
}

} // namespace ui
} // namespace airmesh
