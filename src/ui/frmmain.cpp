#include "frmmain.h"

#include "core/settings.h"

#include "artwork.h"
#include "branding.h"
#include "linkview.h"
#include "placement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QPushButton>
#include <QShortcut>
#include <QStyleFactory>

#include <algorithm>

namespace airmesh {
inline namespace ui {

namespace {

// Every position below is in pixels: the form's twips divided by 15.
constexpr QRect kProductDescrRect(0, 0, 529, 31);
constexpr int kLine1Y = 36;
constexpr int kLine1Width = 612;
constexpr int kLabelX = 12;
constexpr int kTextX = 144;
constexpr QSize kLabelSize(103, 19);
constexpr QSize kTextSize(133, 19);
constexpr int kRow0 = 54;
constexpr int kRowStep = 24;
constexpr int kButtonX = 300;
constexpr int kButtonY0 = 48;
constexpr QSize kButtonSize(97, 25);
constexpr QPoint kConnStatusPos(450, 48);
constexpr QRect kStatusRect(360, 138, 265, 19);
constexpr QRect kImage1Rect(636, 0, 61, 149);

constexpr int kHostIPMaxLength = 15;
constexpr int kPilotIdMaxLength = 8;
constexpr int kPasswordMaxLength = 8;

// The password box masks with '*' whatever the platform's style would use, and never shows
// the last character typed in clear.
class StarMaskStyle final : public QProxyStyle {
public:
    explicit StarMaskStyle(QStyle* base) : QProxyStyle(base) {}

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) {
            return '*';
        }
        if (hint == SH_LineEdit_PasswordMaskDelay) {
            return 0;
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

FrmMain::FrmMain(ClientServices& services, QWidget* parent) : QWidget(parent), m_services(services) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(branding::maker() + QStringLiteral(" Airmesh Client"));
    artwork::fixedWhiteDialog(this, kClientSize);

    // The form's own small sans-serif face; the controls inherit it.
    QFont formFont = font();
    formFont.setFamilies({QStringLiteral("Microsoft Sans Serif"), formFont.family()});
    formFont.setPointSizeF(8.25);
    setFont(formFont);

    buildControls();
    showLinkState(LinkState::Idle, linkStatusText(LinkState::Idle));
}

void FrmMain::buildControls() {
    m_lblProductDescr = new QLabel(this);
    m_lblProductDescr->setObjectName(QStringLiteral("lblProductDescr"));
    m_lblProductDescr->setGeometry(kProductDescrRect);
    m_lblProductDescr->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFont productFont = font();
    productFont.setFamilies({QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue"), font().family()});
    productFont.setStyleHint(QFont::Cursive);
    productFont.setBold(true);
    productFont.setPointSizeF(11.25);
    m_lblProductDescr->setFont(productFont);

    m_line1 = new QFrame(this);
    m_line1->setObjectName(QStringLiteral("Line1"));
    m_line1->setFrameShape(QFrame::HLine);
    m_line1->setFrameShadow(QFrame::Plain);
    m_line1->setLineWidth(1);
    m_line1->setGeometry(0, kLine1Y, kLine1Width, 1);

    auto addLabel = [this](const char* name, const QString& text, int row) {
        auto* label = new QLabel(text, this);
        label->setObjectName(QLatin1String(name));
        label->setGeometry(QRect(QPoint(kLabelX, kRow0 + row * kRowStep), kLabelSize));
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    };
    auto addText = [this](const char* name, int maxLength, int row) {
        auto* text = new QLineEdit(this);
        text->setObjectName(QLatin1String(name));
        text->setGeometry(QRect(QPoint(kTextX, kRow0 + row * kRowStep), kTextSize));
        text->setMaxLength(maxLength);
        return text;
    };
    addLabel("Label1", QStringLiteral("Host IP Address:"), 0);
    m_txtHostIP = addText("txtHostIP", kHostIPMaxLength, 0);
    addLabel("Label5", QStringLiteral("Pilot ID:"), 1);
    m_txtPID = addText("txtPID", kPilotIdMaxLength, 1);
    addLabel("Label6", QStringLiteral("Password:"), 2);
    m_txtPWD = addText("txtPWD", kPasswordMaxLength, 2);

    m_txtPWD->setEchoMode(QLineEdit::Password);
    // No input-method editor on the password: composed text would show in clear.
    m_txtPWD->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_txtPWD->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText |
                                  Qt::ImhNoAutoUppercase);
    // Made after the line edit and parented to the window, so the style outlives the box.
    auto* maskStyle = new StarMaskStyle(QStyleFactory::create(QApplication::style()->name()));
    maskStyle->setParent(this);
    m_txtPWD->setStyle(maskStyle);

    auto addButton = [this](const char* name, const QString& caption, int row) {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(QLatin1String(name));
        button->setGeometry(QRect(QPoint(kButtonX, kButtonY0 + row * kRowStep), kButtonSize));
        // Enter on a focused button presses that button, as on a dialog.
        button->setAutoDefault(true);
        return button;
    };
    m_cmdConnect = addButton("cmdConnect", QString(), 0); // its caption is the link state's
    m_cmdConnect->setDefault(true);
    m_cmdAlias = addButton("cmdAlias", QStringLiteral("&Aliasing"), 1);
    m_cmdAlias->setToolTip(QStringLiteral("Click to alias players Aircraft to other aircraft in your hangar."));
    m_cmdAlias->setEnabled(false);
    m_cmdCancel = addButton("cmdCancel", QStringLiteral("&Cancel"), 2);

    connect(m_cmdConnect, &QPushButton::clicked, this, [this] {
        if (onConnect) {
            onConnect(connectSettings(m_services.objINI, m_txtHostIP->text(), m_txtPID->text(), m_txtPWD->text()));
        }
    });
    connect(m_cmdAlias, &QPushButton::clicked, this, [this] {
        if (onAlias) {
            onAlias();
        }
    });
    connect(m_cmdCancel, &QPushButton::clicked, this, [this] {
        if (onCancel) {
            onCancel();
        }
    });

    for (int i = 0; i < static_cast<int>(m_connStatus.size()); ++i) {
        auto* picture = new QLabel(this);
        picture->setObjectName(QStringLiteral("ConnStatus%1").arg(i));
        picture->setGeometry(QRect(kConnStatusPos, artwork::kTrafficLightSize));
        picture->setAlignment(Qt::AlignCenter);
        picture->setPixmap(artwork::trafficLight(i));
        picture->setToolTip(trafficLightTip());
        picture->setCursor(Qt::PointingHandCursor);
        picture->installEventFilter(this);
        m_connStatus[static_cast<size_t>(i)] = picture;
    }
    auto* traffic = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    connect(traffic, &QShortcut::activated, this, [this] {
        if (onTraffic) {
            onTraffic();
        }
    });

    m_lblStatus = new QLabel(this);
    m_lblStatus->setObjectName(QStringLiteral("lblStatus"));
    m_lblStatus->setGeometry(kStatusRect);
    m_lblStatus->setAlignment(Qt::AlignCenter);

    m_image1 = new QLabel(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setGeometry(kImage1Rect);
    m_image1->setPixmap(artwork::decorativeStrip(kImage1Rect.size()));

    setTabOrder(m_txtHostIP, m_txtPID);
    setTabOrder(m_txtPID, m_txtPWD);
    setTabOrder(m_txtPWD, m_cmdConnect);
    setTabOrder(m_cmdConnect, m_cmdAlias);
    setTabOrder(m_cmdAlias, m_cmdCancel);
    m_txtHostIP->setFocus();
}

QString FrmMain::productLine() {
    return branding::maker() + QStringLiteral(" Airmesh Client (c) ") + branding::maker() + QStringLiteral(" Ver:") +
           QStringLiteral(AIRMESH_VERSION);
}

QString FrmMain::trafficLightTip() {
    return QStringLiteral("Click to see who is flying where (Ctrl+T).");
}

bool FrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
        std::find(m_connStatus.begin(), m_connStatus.end(), watched) != m_connStatus.end()) {
        if (onTraffic) {
            onTraffic();
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

ServerSettings FrmMain::connectSettings(INIFiles& ini, const QString& hostIP, const QString& pilotId,
                                        const QString& password) {
    writeSetting(ini, setting::HostIP, hostIP);
    writeSetting(ini, setting::PID, pilotId);
    writeSetting(ini, setting::PWD, password);
    ServerSettings s;
    // The address as the file keeps it (trimmed, one pair of quotes taken off, 127 characters).
    s.host = readSetting(ini, setting::HostIP);
    s.serverUdpPort = leadingNumber(readSetting(ini, setting::HostConnectPort));
    s.clientUdpPort = leadingNumber(readSetting(ini, setting::ClientConnectPort));
    s.serverTcpPort = leadingNumber(readSetting(ini, setting::ClientConnectTCP));
    s.pilotId = pilotId;
    s.password = password;
    return s;
}

void FrmMain::load() {
    m_lblProductDescr->setText(productLine());
    centreOnScreen(this, ScreenArea::Whole);
    const INIFiles& ini = m_services.objINI;
    m_txtHostIP->setText(readSetting(ini, setting::HostIP));
    m_txtPID->setText(readSetting(ini, setting::PID));
    m_txtPWD->setText(readSetting(ini, setting::PWD));
}

void FrmMain::setStatus(const QString& text) {
    // The label has one text whoever set it last: a later link state that keeps the status
    // line (Connecting) leaves this one.
    m_lblStatus->setText(text);
    m_lblStatus->repaint();
}

int FrmMain::visiblePicture() const {
    int shown = -1;
    for (int i = 0; i < static_cast<int>(m_connStatus.size()); ++i) {
        if (!m_connStatus[static_cast<size_t>(i)]->isHidden()) {
            if (shown >= 0) {
                return -1;
            }
            shown = i;
        }
    }
    return shown;
}

void FrmMain::showLinkState(LinkState state, const QString& statusText) {
    const LinkView& view = LinkView::of(state);
    for (int i = 0; i < static_cast<int>(m_connStatus.size()); ++i) {
        m_connStatus[static_cast<size_t>(i)]->setVisible(i == view.lamp);
    }
    if (view.showsStatus && m_lblStatus->text() != statusText) {
        m_lblStatus->setText(statusText);
    }
    if (view.connectCaption != nullptr && m_cmdConnect->text() != QLatin1String(view.connectCaption)) {
        m_cmdConnect->setText(QLatin1String(view.connectCaption));
    }
    m_cmdConnect->setEnabled(view.connectEnabled);
    m_cmdAlias->setEnabled(view.aliasEnabled);
    m_cmdCancel->setEnabled(view.cancelEnabled);
    if (view.repaintNow) {
        repaint();
    }
}

void FrmMain::keyPressEvent(QKeyEvent* event) {
    // Enter that no control took (the text boxes pass it on) presses Connect, the window's
    // default button, as long as Connect can be pressed.
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        if (m_cmdConnect->isEnabled()) {
            m_cmdConnect->click();
        }
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FrmMain::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onClosed) {
        onClosed();
    }
}

} // namespace ui
} // namespace airmesh
