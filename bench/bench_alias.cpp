// Alias look-ups in a settings file holding 10,000 aliases, as a user who has flown with many
// pilots may build up. Every look-up reads the file (through the reader's cache), so this is
// the cost paid for each aircraft report from the server.

#include "core/inifiles.h"
#include "hangar/aliases.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <random>

using namespace airmesh;

namespace {

constexpr int kAliases = 10000;

// Titles of 30 to 40 characters in the style of the simulator's own.
QString makeTitle(std::mt19937& rng) {
    static const char* makers[] = {"Beechcraft", "Cessna",  "Boeing",     "Airbus",  "Piper",
                                   "Mooney",     "Learjet", "Bombardier", "Douglas", "Lockheed"};
    static const char* models[] = {"King Air 350", "Skyhawk 172SP", "737-400",    "A321-200",    "Cherokee Six",
                                   "Bravo M20M",   "Learjet 45",    "CRJ-700 ER", "DC-3 Dakota", "Constellation"};
    static const char* liveries[] = {"Paint1", "Paint2", "N350KA", "Lufthansa", "United", "KLM", "Delta", "Qantas"};
    std::uniform_int_distribution<int> m(0, 9), l(0, 7), n(0, 99999);
    QString t =
        QString("%1 %2 %3 %4").arg(makers[m(rng)], models[m(rng)], liveries[l(rng)]).arg(n(rng), 5, 10, QChar('0'));
    while (t.size() < 30) {
        t += " X";
    }
    return t.left(40);
}

struct Fixture {
    QTemporaryDir dir;
    INIFiles settings;
    std::vector<QString> present;
    std::vector<QString> absent;

    Fixture() {
        settings.setFileName(dir.path() + "/AirmeshClient.ini");
        std::mt19937 rng(7);
        QByteArray text = "[General]\r\nHostIP=192.0.2.10\r\nPID=1234\r\nPWD=5678\r\nFSDir=c:\\fs2002\\\r\n"
                          "Debug=0\r\nDebugLowLevel=0\r\n[Aliasing]\r\n";
        QSet<QString> used;
        while (static_cast<int>(present.size()) < kAliases) {
            const QString t = makeTitle(rng);
            if (used.contains(t.toLower())) {
                continue;
            }
            used.insert(t.toLower());
            present.push_back(t);
            text += t.toLatin1() + "=" + makeTitle(rng).toLatin1() + "\r\n";
        }
        while (absent.size() < 1000) {
            const QString t = makeTitle(rng);
            if (!used.contains(t.toLower())) {
                absent.push_back(t);
            }
        }
        QFile f(settings.FileName());
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) {
            qFatal("cannot write the settings file");
        }
        f.close();
        // A file changed in the last moments is read afresh at every look-up, since its time
        // stamp cannot yet tell a later edit from it. A user's settings file has long settled.
        QThread::msleep(2500);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void lookUp(benchmark::State& state, const std::vector<QString>& titles, const QString& suffix, bool expectAlias) {
    Fixture& f = fixture();
    std::vector<QString> asSent;
    for (const QString& t : titles) {
        asSent.push_back(t.toUpper() + suffix);
    }
    std::size_t i = 0;
    for (auto _ : state) {
        const QString& t = asSent[i];
        QString a = GetAlias(f.settings, t);
        if ((a != t) != expectAlias) {
            state.SkipWithError("wrong answer");
            break;
        }
        benchmark::DoNotOptimize(a);
        i = (i + 1) % asSent.size();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_GetAlias_Present(benchmark::State& state) {
    lookUp(state, fixture().present, {}, true);
}
void BM_GetAlias_PresentPadded(benchmark::State& state) {
    lookUp(state, fixture().present, QString(QChar(0)) + QString(20, ' '), true);
}
void BM_GetAlias_Absent(benchmark::State& state) {
    lookUp(state, fixture().absent, {}, false);
}

} // namespace

BENCHMARK(BM_GetAlias_Present)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetAlias_PresentPadded)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetAlias_Absent)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
