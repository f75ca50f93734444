// The Traffic window's scope with a crowd: 500 pilots spread over 3 degrees around the user, 14
// of them shown in FS, each moving a little between two refreshes (as bench_e2e's crowd does).
// Times one refresh (the scene built from the picture, compared with the last, and what changed
// painted on the offscreen platform), the first one (everything painted) apart.
//
// Usage: bench_scope [pilots, default 500] [refreshes, default 200]
#include "ui/trafficscope.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

using namespace airmesh;

namespace {

TrafficPicture crowd(int pilots, int tick) {
    TrafficPicture pic;
    wire::AircraftPosition own;
    own.latitudeDeg = 47.45;
    own.longitudeDeg = -122.31;
    own.headingDeg = 90;
    pic.own = own;
    for (int i = 0; i < pilots; ++i) {
        TrafficRow r;
        r.handle = QStringLiteral("Traffic%1").arg(i);
        wire::AircraftPosition p;
        p.latitudeDeg = 47.45 + (i % 25) * 0.12 + (tick % 100) * 1e-3;
        p.longitudeDeg = -122.31 + (i / 25) * 0.15;
        p.altitudeFt = 1000 + 100 * (i % 64);
        p.headingDeg = (i * 37) % 360;
        p.groundSpeedKt = 120;
        r.position = p;
        const double north = (p.latitudeDeg - own.latitudeDeg) * 60;
        const double east =
            (p.longitudeDeg - own.longitudeDeg) * 60 * std::cos(own.latitudeDeg * std::numbers::pi / 180);
        r.distanceNm = std::hypot(north, east);
        r.bearingDeg = std::fmod(std::atan2(east, north) * 180 / std::numbers::pi + 360, 360);
        pic.rows.push_back(r);
    }
    std::sort(pic.rows.begin(), pic.rows.end(),
              [](const TrafficRow& a, const TrafficRow& b) { return *a.distanceNm < *b.distanceNm; });
    for (std::size_t k = 0; k < pic.rows.size(); ++k) {
        pic.rows[k].inFs = k < 14 ? InFs::Shown : InFs::SessionFull;
    }
    pic.shown = std::min(pilots, 14);
    pic.waiting = pilots - pic.shown;
    return pic;
}

double ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int pilots = argc > 1 ? std::atoi(argv[1]) : 500;
    const int refreshes = argc > 2 ? std::atoi(argv[2]) : 200;
    for (const int range : {TrafficScope::kAuto, 200}) {
        TrafficScope scope;
        scope.resize(600, 600);
        scope.setRange(range);
        scope.show();
        QApplication::processEvents();
        std::vector<double> times;
        double first = 0;
        for (int t = 0; t <= refreshes; ++t) {
            const TrafficPicture pic = crowd(pilots, t);
            const auto t0 = std::chrono::steady_clock::now();
            scope.setPicture(pic);
            QApplication::processEvents(); // the repaint of what changed
            const double took = ms(std::chrono::steady_clock::now() - t0);
            if (t == 0) {
                first = took;
            } else {
                times.push_back(took);
            }
        }
        std::sort(times.begin(), times.end());
        std::printf("%d pilots, range %s (%.0f nm): first refresh %.2f ms; then median %.3f ms, p99 %.3f ms, "
                    "max %.3f ms per refresh = %.3f %% of a core at one a second\n",
                    pilots, range == TrafficScope::kAuto ? "auto" : "fixed", scope.scene().rangeNm, first,
                    times[times.size() / 2], times[times.size() * 99 / 100], times.back(),
                    times[times.size() / 2] / 10);
    }
    return 0;
}
