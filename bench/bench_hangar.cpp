// Times the hangar scan over a large generated aircraft folder against the least any program
// can do for the same answer: find the aircraft.cfg files and read each once
// (`find DIR -iname aircraft.cfg -exec cat {} +`). Both run on the same tree, after a warm-up
// run of each has brought it into the page cache.
//
// Usage: bench_hangar [number of aircraft.cfg files, default 20000] [runs, default 7]

#include "hangar/hangar.h"
#include "hangar/hangarscan.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

using namespace airmesh;

namespace {

class NullStatus : public StatusSink {
public:
    void setStatus(const QString&) override {}
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
}

const char* const kMakers[] = {"Beechcraft", "Cessna",  "Boeing",   "Airbus", "Piper",       "Mooney",  "Learjet",
                               "Bombardier", "Douglas", "Lockheed", "Fokker", "DeHavilland", "Embraer", "Extra"};
const char* const kLiveries[] = {"Paint1", "Paint2", "Lufthansa", "United", "KLM", "Delta", "Qantas", "Alitalia"};

// One aircraft.cfg of 2 to 4 KB laid out as the simulator's own: the variants first, then
// the flight model's sections.
QByteArray makeCfg(std::mt19937& rng, const QString& maker, int model) {
    std::uniform_int_distribution<int> variants(1, 6), pct(0, 99), num(0, 9999);
    const int target = std::uniform_int_distribution<int>(2048, 4096)(rng);
    const QByteArray name = QString("%1 M%2").arg(maker).arg(model).toLatin1();
    QByteArray b;
    const int n = variants(rng);
    for (int i = 0; i < n; ++i) {
        b += "[fltsim." + QByteArray::number(i) + "]\r\n";
        b += "title=" + name + " " + kLiveries[pct(rng) % 8] + " N" + QByteArray::number(num(rng)) + "\r\n";
        b += "sim=" + name + "\r\nmodel=\r\npanel=\r\nsound=\r\ntexture=" + QByteArray::number(i) + "\r\n";
        b += "kb_checklists=" + name + "_check\r\nkb_reference=" + name + "_ref\r\n";
        b += "atc_id=N" + QByteArray::number(num(rng)) + "\r\natc_airline=\r\natc_flight_number=\r\n";
        b += "ui_manufacturer=" + maker.toLatin1() + "\r\nui_type=M" + QByteArray::number(model) + "\r\n";
        b += "ui_variation=" + QByteArray(kLiveries[i % 8]) + "\r\n";
        b += "description=The " + name + " is a fine aircraft; flown by many.\\nCruise 180 kts.\r\n\r\n";
    }
    b += "[General]\r\natc_type=" + maker.toUpper().toLatin1() + "\r\natc_model=M" + QByteArray::number(model) +
         "\r\neditable=1\r\nperformance=Cruise Speed\\n180 kts\r\n\r\n";
    b += "[WEIGHT_AND_BALANCE]\r\nmax_gross_weight=2550\r\nempty_weight=1454\r\nreference_datum_position=0,0,0\r\n"
         "empty_weight_CG_position=-2.2,0,0\r\nmax_number_of_stations=50\r\nstation_load.0=170,-1.5,-1,0\r\n"
         "station_load.1=170,-1.5,1,0\r\nstation_load.2=170,-4.5,-1,0\r\n\r\n";
    b += "[flight_tuning]\r\ncruise_lift_scalar=1.0\r\nparasite_drag_scalar=1.0\r\ninduced_drag_scalar=1.0\r\n"
         "elevator_effectiveness=1.0\r\naileron_effectiveness=1.0\r\n\r\n";
    b += "[GeneralEngineData]\r\nengine_type=0\r\nEngine.0=-3.5,0,0\r\nfuel_flow_scalar=1.0\r\nmin_throttle_limit="
         "0\r\n\r\n";
    for (int s = 0; b.size() < target; ++s) {
        b += "[contact_points_" + QByteArray::number(s) + "]\r\n";
        for (int p = 0; p < 6; ++p) {
            b += "point." + QByteArray::number(p) + "=1, -" + QByteArray::number(num(rng)) +
                 ".00, 0.00, -4.30, 1500, 0, 0.50, 30.0, 0.25, 2.5, 0.72, 4.0, 4.0, 0, 150, 180\r\n";
        }
    }
    return b;
}

// aircraft/<maker>/<model>/ (half of them), with a series folder between (a third) or two
// (the rest); each with model/, texture/ and sometimes panel/ holding files of their own.
int makeTree(const QString& fsDir, int count) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> pct(0, 99);
    const QString aircraft = fsDir + "aircraft";
    for (int i = 0; i < count; ++i) {
        const QString maker = kMakers[i % std::size(kMakers)];
        QString dir = aircraft + "/" + maker;
        const int depth = pct(rng);
        if (depth >= 50) {
            dir += QString("/Series %1").arg(i % 37);
        }
        if (depth >= 83) {
            dir += QString("/Pack %1").arg(i % 11);
        }
        dir += QString("/%1 M%2").arg(maker).arg(i);
        if (!QDir().mkpath(dir + "/model") || !QDir().mkpath(dir + "/texture")) {
            qFatal("cannot create %s", qPrintable(dir));
        }
        writeFile(dir + "/aircraft.cfg", makeCfg(rng, maker, i));
        writeFile(dir + "/model/m" + QString::number(i) + ".mdl", QByteArray(1024, 'm'));
        writeFile(dir + "/model/model.cfg", "[models]\r\nnormal=m" + QByteArray::number(i) + "\r\n");
        for (const char* t : {"/texture/body_t.bmp", "/texture/wing_t.bmp", "/texture/prop_t.bmp"}) {
            writeFile(dir + t, QByteArray(512, 't'));
        }
        if (pct(rng) < 30) {
            QDir().mkpath(dir + "/panel");
            writeFile(dir + "/panel/panel.cfg", "[Window Titles]\r\nWindow00=Main Panel\r\n");
        }
    }
    return count;
}

double msSince(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

double timeScan(const QString& fsDir, int* titles, int* files) {
    Hangar h;
    NullStatus status;
    QElapsedTimer t;
    t.start();
    const QStringList found = LoadHangar(fsDir, h, status, [] { QCoreApplication::processEvents(); });
    const double ms = msSince(t);
    *titles = h.Count();
    *files = static_cast<int>(found.size());
    return ms;
}

double timeWalk(const QString& fsDir, bool yield) {
    QStringList list;
    QElapsedTimer t;
    t.start();
    FindFiles(fsDir + "aircraft", "aircraft.cfg", list,
              yield ? YieldHook([] { QCoreApplication::processEvents(); }) : YieldHook());
    return msSince(t);
}

double timeFindCat(const QString& fsDir) {
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start("find", {fsDir + "aircraft", "-iname", "aircraft.cfg", "-exec", "cat", "{}", "+"});
    if (!p.waitForFinished(-1) || p.exitCode() != 0) {
        qFatal("find failed");
    }
    return msSince(t);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 20000;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 7;

    QTemporaryDir tmp;
    if (!tmp.isValid()) {
        qFatal("no temporary folder");
    }
    const QString fsDir = tmp.path() + "/";
    QElapsedTimer gen;
    gen.start();
    makeTree(fsDir, count);
    std::printf("generated %d aircraft folders in %.0f ms\n", count, msSince(gen));

    int titles = 0;
    int files = 0;
    timeScan(fsDir, &titles, &files); // warm-up
    timeFindCat(fsDir);
    std::vector<double> scan, walk, walkNoYield, findCat;
    for (int i = 0; i < runs; ++i) {
        scan.push_back(timeScan(fsDir, &titles, &files));
        findCat.push_back(timeFindCat(fsDir));
        walk.push_back(timeWalk(fsDir, true));
        walkNoYield.push_back(timeWalk(fsDir, false));
    }
    std::printf("files read %d, titles %d, runs %d\n", files, titles, runs);
    std::printf("LoadHangar            median %8.1f ms  best %8.1f ms\n", median(scan),
                *std::min_element(scan.begin(), scan.end()));
    std::printf("  of which the walk   median %8.1f ms  (without yielding %.1f ms)\n", median(walk),
                median(walkNoYield));
    std::printf("find -exec cat        median %8.1f ms  best %8.1f ms\n", median(findCat),
                *std::min_element(findCat.begin(), findCat.end()));
    std::printf("ratio (medians)       %.2f  (target at most 1.5)\n", median(scan) / median(findCat));
    return 0;
}
