#include "frmtraffic.h"

#include "placement.h"
#include "trafficscope.h"

#include "core/settings.h"

#include "registry/players.h"
#include "relay/relay.h"

#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>

namespace airmesh {
inline namespace ui {

namespace {

const QString kDash = QStringLiteral("-");
const QString kUnknown = QStringLiteral("position unknown");

QString number(double v, int decimals) {
    return QString::number(v, 'f', decimals);
}

// Degrees as a pilot reads a heading or bearing: three digits, 360 for north.
QString degrees(double v) {
    long d = std::lround(v) % 360;
    if (d <= 0) {
        d += 360;
    }
    return QStringLiteral("%1").arg(d, 3, 10, QLatin1Char('0'));
}

QString latLon(const wire::AircraftPosition& p) {
    return QStringLiteral("%1 %2 %3 %4")
        .arg(number(std::abs(p.latitudeDeg), 4), p.latitudeDeg < 0 ? QStringLiteral("S") : QStringLiteral("N"),
             number(std::abs(p.longitudeDeg), 4), p.longitudeDeg < 0 ? QStringLiteral("W") : QStringLiteral("E"));
}

QString heard(qint64 seconds) {
    return seconds < 0 ? kDash : QString::number(seconds);
}

QString placeText(InFs in) {
    switch (in) {
    case InFs::Shown:
        return QStringLiteral("yes");
    case InFs::SessionFull:
        return QStringLiteral("waiting: session full");
    case InFs::MaxShown:
        return QStringLiteral("waiting: MaxShown");
    case InFs::RejectedByFs:
        return QStringLiteral("no: FS refused him");
    }
    return kDash;
}

} // namespace

// The rows as text. A refresh that keeps the number of rows changes them in place, cell spans
// that changed only, so the view repaints those and measures nothing.
class FrmTraffic::Model final : public QAbstractTableModel {
public:
    explicit Model(QObject* parent) : QAbstractTableModel(parent) {}

    void setRows(std::vector<QStringList> rows) {
        if (rows.size() != m_rows.size()) {
            beginResetModel();
            m_rows = std::move(rows);
            endResetModel();
            return;
        }
        // Only the cells that changed are repainted: most of a pilot's figures stay as they were
        // from one second to the next.
        for (size_t r = 0; r < rows.size(); ++r) {
            QStringList& now = rows[r];
            QStringList& was = m_rows[r];
            int first = kColumns;
            int last = -1;
            for (int c = 0; c < kColumns; ++c) {
                if (now[c] != was[c]) {
                    first = std::min(first, c);
                    last = c;
                }
            }
            if (last < 0) {
                continue;
            }
            was = std::move(now);
            const int row = static_cast<int>(r);
            emit dataChanged(index(row, first), index(row, last), {Qt::DisplayRole});
        }
    }
    const QString& text(int row, int column) const { return m_rows[static_cast<size_t>(row)][column]; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : kColumns; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) {
            return {};
        }
        if (role == Qt::DisplayRole) {
            return text(index.row(), index.column());
        }
        if (role == Qt::TextAlignmentRole && index.column() >= Distance) {
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        }
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const std::array<QString, kColumns> kHeaders{
            QStringLiteral("Pilot"),         QStringLiteral("Aircraft"),      QStringLiteral("Shown as"),
            QStringLiteral("In FS"),         QStringLiteral("Distance (nm)"), QStringLiteral("Bearing"),
            QStringLiteral("Altitude (ft)"), QStringLiteral("Heading"),       QStringLiteral("Speed (kt)"),
            QStringLiteral("Heard (s)")};
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumns) {
            return kHeaders[static_cast<size_t>(section)];
        }
        return QAbstractTableModel::headerData(section, orientation, role);
    }

private:
    std::vector<QStringList> m_rows;
};

FrmTraffic::FrmTraffic(ClientServices& services, const Players& players, const Relay& relay, QWidget* parent)
    : QWidget(parent, Qt::Window), m_services(services), m_players(players), m_relay(relay) {
    setObjectName(QStringLiteral("frmTraffic"));
    setWindowTitle(QStringLiteral("Traffic"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* layout = new QVBoxLayout(this);
    m_lblOwn = new QLabel(this);
    m_lblOwn->setObjectName(QStringLiteral("lblOwn"));
    m_lblOwn->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_lblOwn);
    m_lblShown = new QLabel(this);
    m_lblShown->setObjectName(QStringLiteral("lblShown"));
    m_lblShown->setVisible(false);
    layout->addWidget(m_lblShown);

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_splitter->setChildrenCollapsible(true);
    m_scope = new TrafficScope(m_splitter);
    m_scope->setRange(readSetting(m_services.objINI, setting::TrafficRange).toInt());
    m_model = new Model(this);
    m_table = new QTableView(m_splitter);
    m_table->setObjectName(QStringLiteral("tblTraffic"));
    m_table->setModel(m_model);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->setVisible(false);
    m_table->setWordWrap(false);
    // Handles (20 characters) and titles (30) get room to be read whole; each figure the width
    // of its heading. Fixed, so that a refresh measures nothing.
    QHeaderView* header = m_table->horizontalHeader();
    header->setStretchLastSection(true);
    const QFontMetrics metrics = m_table->fontMetrics();
    const int em = metrics.horizontalAdvance(QLatin1Char('M'));
    m_table->setColumnWidth(Pilot, 10 * em);
    m_table->setColumnWidth(Aircraft, 16 * em);
    m_table->setColumnWidth(ShownAs, 16 * em);
    m_table->setColumnWidth(Place, metrics.horizontalAdvance(placeText(InFs::SessionFull)) + 2 * em);
    for (int col = Place + 1; col < kColumns; ++col) {
        const QString heading = m_model->headerData(col, Qt::Horizontal, Qt::DisplayRole).toString();
        m_table->setColumnWidth(col, metrics.horizontalAdvance(heading) + 2 * em);
    }
    layout->addWidget(m_splitter, 1);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);

    // A pilot chosen in the scope is chosen in the table, and the other way round.
    connect(m_scope, &TrafficScope::pilotClicked, this, [this](const QString& handle) {
        const int r = rowOf(handle);
        if (r >= 0) {
            m_table->setCurrentIndex(m_model->index(r, Pilot));
        }
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& now) {
        m_scope->setSelected(now.isValid() ? m_model->text(now.row(), Pilot) : QString());
    });
    connect(m_scope, &TrafficScope::rangeChanged, this, [this](int nm) {
        writeSetting(m_services.objINI, setting::TrafficRange,
                     nm == TrafficScope::kAuto ? QStringLiteral("auto") : QString::number(nm));
    });

    m_timer = new QTimer(this);
    m_timer->setInterval(kRefreshMs);
    connect(m_timer, &QTimer::timeout, this, &FrmTraffic::refresh);

    resize(kDefaultSize);
    restorePlace();
}

bool FrmTraffic::refreshing() const {
    return m_timer->isActive();
}

QString FrmTraffic::ownLine(const TrafficPicture& picture) {
    const QString lead = QStringLiteral("Your aircraft: ");
    if (!picture.ownHeard) {
        return lead + QStringLiteral("no position from the simulator yet");
    }
    if (!picture.own) {
        return lead + kUnknown;
    }
    const wire::AircraftPosition& p = *picture.own;
    return lead + QStringLiteral("%1, %2 ft, heading %3, %4 kt%5")
                      .arg(latLon(p), number(p.altitudeFt, 0), degrees(p.headingDeg), number(p.groundSpeedKt, 0),
                           p.onGround ? QStringLiteral(", on the ground") : QString());
}

QString FrmTraffic::shownLine(const TrafficPicture& picture, int maxShown) {
    if (picture.waiting == 0) {
        return {};
    }
    const bool byUser = std::any_of(picture.rows.begin(), picture.rows.end(),
                                    [](const TrafficRow& r) { return r.inFs == InFs::MaxShown; });
    return QStringLiteral("%1 of %2 pilots are shown in FS (%3)")
        .arg(picture.shown)
        .arg(picture.rows.size())
        .arg(byUser ? QStringLiteral("MaxShown is %1").arg(maxShown) : QStringLiteral("its session is full"));
}

QStringList FrmTraffic::cells(const TrafficRow& row) {
    QStringList c(kColumns, kDash);
    c[Pilot] = row.handle;
    c[Place] = placeText(row.inFs);
    if (!row.title.isEmpty()) {
        c[Aircraft] = row.title;
        c[ShownAs] = row.shownReason.isEmpty()
                         ? row.shownTitle
                         : row.shownTitle + QStringLiteral(" (") + row.shownReason + QLatin1Char(')');
    }
    c[Heard] = heard(row.heardSeconds);
    if (!row.heard) {
        return c;
    }
    if (!row.position) {
        c[Distance] = kUnknown;
        return c;
    }
    const wire::AircraftPosition& p = *row.position;
    if (row.distanceNm) {
        c[Distance] = number(*row.distanceNm, 1);
        c[Bearing] = degrees(*row.bearingDeg);
    }
    c[Altitude] = number(p.altitudeFt, 0);
    c[Heading] = degrees(p.headingDeg);
    c[Speed] = number(p.groundSpeedKt, 0);
    return c;
}

void FrmTraffic::refresh() {
    const TrafficPicture picture = trafficPicture(m_players, m_relay, m_services.clock.steadyMs());
    const QString own = ownLine(picture);
    if (m_lblOwn->text() != own) {
        m_lblOwn->setText(own);
    }
    const QString shown = shownLine(picture, readSetting(m_services.objINI, setting::MaxShown).toInt());
    if (m_lblShown->text() != shown) {
        m_lblShown->setText(shown);
        m_lblShown->setVisible(!shown.isEmpty());
    }
    // The selected pilot stays selected as the rows move.
    const QModelIndex current = m_table->currentIndex();
    const QString selected = current.isValid() ? m_model->text(current.row(), Pilot) : QString();
    std::vector<QStringList> rows;
    rows.reserve(picture.rows.size());
    for (const TrafficRow& row : picture.rows) {
        rows.push_back(cells(row));
    }
    m_model->setRows(std::move(rows));
    if (m_scope->isVisible()) {
        m_scope->setPicture(picture);
    }
    if (!selected.isEmpty()) {
        for (int r = 0; r < m_model->rowCount(); ++r) {
            if (m_model->text(r, Pilot) == selected) {
                if (m_table->currentIndex().row() != r) {
                    m_table->setCurrentIndex(m_model->index(r, Pilot));
                }
                break;
            }
        }
    }
}

int FrmTraffic::rowOf(const QString& handle) const {
    for (int r = 0; r < m_model->rowCount(); ++r) {
        if (m_model->text(r, Pilot) == handle) {
            return r;
        }
    }
    return -1;
}

void FrmTraffic::setScopeShown(bool shown) {
    m_scope->setVisible(shown);
}

QString FrmTraffic::cellText(int row, int column) const {
    return m_model->text(row, column);
}

int FrmTraffic::rowCount() const {
    return m_model->rowCount();
}

void FrmTraffic::showEvent(QShowEvent* event) {
    refresh();
    m_timer->start();
    QWidget::showEvent(event);
}

void FrmTraffic::hideEvent(QHideEvent* event) {
    m_timer->stop();
    QWidget::hideEvent(event);
}

void FrmTraffic::closeEvent(QCloseEvent* event) {
    rememberPlace(false);
    event->accept();
}

void FrmTraffic::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FrmTraffic::rememberPlace(bool open) {
    const QPoint at = pos();
    writeSetting(m_services.objINI, setting::TrafficWindow,
                 QStringLiteral("%1,%2,%3,%4").arg(at.x()).arg(at.y()).arg(width()).arg(height()));
    writeSetting(m_services.objINI, setting::TrafficOpen, open ? 1 : 0);
    const QList<int> sizes = m_splitter->sizes();
    if (sizes.size() == 2) {
        writeSetting(m_services.objINI, setting::TrafficSplit, QStringLiteral("%1,%2").arg(sizes[0]).arg(sizes[1]));
    }
}

void FrmTraffic::restorePlace() {
    const QStringList parts = readSetting(m_services.objINI, setting::TrafficWindow).split(QLatin1Char(','));
    bool ok = parts.size() == 4;
    std::array<int, 4> v{};
    for (int i = 0; ok && i < 4; ++i) {
        v[static_cast<size_t>(i)] = parts[i].trimmed().toInt(&ok);
    }
    const QRect place(v[0], v[1], v[2], v[3]);
    // A place kept from another screen set-up that no screen shows now is forgotten.
    const bool onScreen = ok && place.width() >= 200 && place.height() >= 100 && place.width() <= 10000 &&
                          place.height() <= 10000 && QGuiApplication::screenAt(place.center()) != nullptr;
    if (onScreen) {
        resize(place.size());
        move(place.topLeft());
    } else {
        centreOnScreen(this, ScreenArea::WorkArea);
    }
    // The splitter as the user left it: a scope folded away stays folded.
    const QStringList split = readSetting(m_services.objINI, setting::TrafficSplit).split(QLatin1Char(','));
    bool okA = false;
    bool okB = false;
    const int a = split.size() == 2 ? split[0].trimmed().toInt(&okA) : 0;
    const int b = split.size() == 2 ? split[1].trimmed().toInt(&okB) : 0;
    if (okA && okB && a >= 0 && b >= 0 && a + b > 0 && a <= 10000 && b <= 10000) {
        m_splitter->setSizes({a, b});
    } else {
        m_splitter->setSizes({height(), width() - height()});
    }
}

void openTrafficWindow(ClientServices& services, const Players& players, const Relay& relay,
                       QPointer<FrmTraffic>& window, QWidget* parent) {
    if (!window) {
        window = new FrmTraffic(services, players, relay, parent);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

bool trafficWindowWanted(const INIFiles& ini) {
    return settingToBool(readSetting(ini, setting::TrafficOpen), false);
}

} // namespace ui
} // namespace airmesh
