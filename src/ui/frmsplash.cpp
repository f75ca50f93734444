#include "frmsplash.h"

#include "core/settings.h"

#include "artwork.h"
#include "branding.h"
#include "placement.h"

#include "core/winepath.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace airmesh {
inline namespace ui {

namespace {

const QString kDefaultFSDir = QLatin1String(setting::FSDir.defaultValue);
const QString kSimulatorFile = QStringLiteral("fs2000.exe");
const QString kTitle = QStringLiteral("Airmesh");
const QString kNotFound =
    QStringLiteral("Airmesh couldn't find your Flightsim directory or you have selected the incorrect directory.\r\n"
                   "\r\n"
                   "On the next screen please browse to the Main FS directory.\r\n"
                   "\r\n"
                   "EG: \"C:\\Program Files\\Microsoft Games\\FS2002\\\"");
const QString kNoneChosen = QStringLiteral("No Directory chosen");

const QString kTerms = QStringLiteral(
    "Free to use and to pass on, unchanged and free of charge. Provided as it is, without warranty of any kind: "
    "you use it at your own risk. Pressing \"I agree\" accepts these terms.");
const QString kNotice = QStringLiteral("Copyright \u00A9 2026 ") + branding::maker();
const QString kSupport = QStringLiteral("Support and questions: support@airmesh.example");

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, const QString& family, qreal points,
                  bool bold, const QRect& geometry, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    QFont font(family);
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setStyleHint(QFont::SansSerif);
    label->setFont(font);
    label->setGeometry(geometry);
    label->setAlignment(alignment);
    return label;
}

bool holdsSimulator(const QString& folder) {
    return folderHoldsFile(resolveWindowsPath(folder), kSimulatorFile);
}

// The picker's folder as the user chose it, ended by one separator of its own kind.
QString withTrailingSeparator(QString folder) {
    folder = QDir::toNativeSeparators(folder);
    if (folder.endsWith(QLatin1Char('\\')) || folder.endsWith(QLatin1Char('/'))) {
        return folder;
    }
    const bool windowsStyle = folder.size() >= 2 && folder[1] == QLatin1Char(':');
    return folder + (windowsStyle ? QLatin1Char('\\') : QDir::separator());
}

// The folder as the rest of the program uses it: local, '/'-separated, ending in '/'.
QString localFolder(const QString& folder) {
    QString local = QDir::fromNativeSeparators(resolveWindowsPath(folder));
    if (!local.endsWith(QLatin1Char('/'))) {
        local += QLatin1Char('/');
    }
    return local;
}

} // namespace

FrmSplash::FrmSplash(ClientServices& services, QWidget* parent) : QDialog(parent), m_services(services) {
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QStringLiteral("Airmesh Client Module"));
    artwork::fixedWhiteDialog(this, kClientSize);
    setModal(false);

    m_frame1 = new QFrame(this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setFrameShape(QFrame::Box);
    m_frame1->setFrameShadow(QFrame::Sunken);
    m_frame1->setGeometry(8, 4, 468, 272);

    auto* imgLogo = new QLabel(m_frame1);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    const QRect logo(10, 10, 60, 252);
    imgLogo->setGeometry(logo);
    imgLogo->setPixmap(artwork::decorativeStrip(logo.size()));

    // Texts sit right of the strip; everything is placed by hand, as the window's size is fixed.
    const QString arial = QStringLiteral("Arial");
    constexpr int left = 84;
    constexpr int width = 372;
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
    makeLabel(m_frame1, QStringLiteral("lblCompanyProduct"), QStringLiteral("Airmesh Client Module"), arial, 18, true,
              QRect(left, 6, width, 30));
    makeLabel(m_frame1, QStringLiteral("lblProductName"), branding::maker(), arial, 32.25, true,
              QRect(left, 34, width, 52));
    makeLabel(m_frame1, QStringLiteral("lblPlatform"), QStringLiteral("For Microsoft FS2000/FS2002"), arial, 15.75,
              true, QRect(left, 86, width, 26), right);
    m_lblVersion = makeLabel(m_frame1, QStringLiteral("lblVersion"), QStringLiteral("Version ") + AIRMESH_VERSION,
                             arial, 12, true, QRect(left, 112, width, 20), right);
    QLabel* lblWarning =
        makeLabel(m_frame1, QStringLiteral("lblWarning"), kTerms, arial, 8.25, false, QRect(left, 136, width, 48));
    lblWarning->setWordWrap(true);
    makeLabel(m_frame1, QStringLiteral("lblCompany"), branding::maker(), arial, 8.25, false, QRect(left, 186, 150, 16));
    makeLabel(m_frame1, QStringLiteral("lblCopyright"), kNotice, arial, 8.25, false, QRect(left + 150, 186, 222, 16),
              right);
    makeLabel(m_frame1, QStringLiteral("Label1"), kSupport, QStringLiteral("MS Sans Serif"), 9.75, false,
              QRect(left, 206, width, 20), Qt::AlignCenter);

    m_cmdIAgree = new QPushButton(QStringLiteral("I agree - Lets Start!"), m_frame1);
    m_cmdIAgree->setObjectName(QStringLiteral("cmdIAgree"));
    m_cmdIAgree->setGeometry(left + 20, 234, 160, 28);
    m_cmdIAgree->setDefault(true);
    m_cmdCancel = new QPushButton(QStringLiteral("Don't agree - Quit"), m_frame1);
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    m_cmdCancel->setGeometry(left + width - 180, 234, 160, 28);
    setTabOrder(m_cmdIAgree, m_cmdCancel);
    m_cmdIAgree->setFocus();

    connect(m_cmdIAgree, &QPushButton::clicked, this, &FrmSplash::cmdIAgree_Click);
    connect(m_cmdCancel, &QPushButton::clicked, this, &FrmSplash::reject);

    // Centred on the screen as the system centres a dialog; having moved it, Qt leaves the
    // place alone when it is shown.
    centreOnScreen(this, ScreenArea::WorkArea);
}

void FrmSplash::setFolderPicker(FolderPicker picker) {
    m_picker = std::move(picker);
}

QString FrmSplash::BrowseForFolder(QWidget* parent) {
    // Under Wine the simulator lives below the prefix's C: drive, a hidden folder that a
    // picker started in the home folder would not show.
    QString start = resolveWindowsPath(QStringLiteral("c:\\"));
    if (!QFileInfo(start).isDir()) {
        start = QDir::homePath();
    }
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Please select the main FS directory"), start,
                                             QFileDialog::ShowDirsOnly);
}

void FrmSplash::cmdIAgree_Click() {
    QString folder = readSetting(m_services.objINI, setting::FSDir);
    // Under Wine the simulator is seldom in the default prefix: with no folder of the user's
    // own, one found in the user's other prefixes is taken instead of the default, and kept.
    const QString found = folder == kDefaultFSDir && !holdsSimulator(folder) ? findSimulatorFolder() : QString();
    if (!found.isEmpty()) {
        folder = found;
        writeSetting(m_services.objINI, setting::FSDir, folder);
    } else if (!holdsSimulator(folder)) {
        for (;;) {
            m_services.messages.showMessage(kNotFound, kTitle);
            folder = m_picker ? m_picker(this) : BrowseForFolder(this);
            if (folder.isEmpty()) {
                m_services.messages.showMessage(kNoneChosen, kTitle);
                return;
            }
            folder = withTrailingSeparator(folder);
            if (holdsSimulator(folder)) {
                break;
            }
        }
        writeSetting(m_services.objINI, setting::FSDir, folder);
    }
    m_strFSDir = localFolder(folder);
    accept();
}

void FrmSplash::reject() {
    m_blnQuit = true;
    QDialog::reject();
}

} // namespace ui
} // namespace airmesh
