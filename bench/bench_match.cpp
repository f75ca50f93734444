// Times the aircraft matching: one remote title against a large hangar, after the index has been
// built once, as the client does after its scan. Prints the index's build time and size and the
// time of one match (median, 99th percentile, worst) over a mix of remote titles: installed
// titles in other case, titles cut at 30 characters, types the hangar has in other liveries,
// relatives, types it lacks, gibberish, helicopters and gliders.
//
// Usage: bench_match [installed aircraft, default 20000] [matches, default 200000]

#include "hangar/hangar.h"
#include "hangar/matcher.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

using namespace airmesh;

namespace {

struct Type {
    const char* maker;
    const char* model;
    int engineType;
    int engines;
    double span;
    const char* category;
};

const Type kTypes[] = {
    {"Boeing", "737-400", 1, 2, 94.8, "airplane"},
    {"Boeing", "737-800", 1, 2, 112.6, "airplane"},
    {"Boeing", "747-400", 1, 4, 211, "airplane"},
    {"Boeing", "767-300ER", 1, 2, 156, "airplane"},
    {"Boeing", "777-200", 1, 2, 199.9, "airplane"},
    {"Boeing", "757-200", 1, 2, 124.8, "airplane"},
    {"Boeing", "727-200", 1, 3, 108, "airplane"},
    {"Airbus", "A320", 1, 2, 111.9, "airplane"},
    {"Airbus", "A319", 1, 2, 111.9, "airplane"},
    {"Airbus", "A340-300", 1, 4, 197.8, "airplane"},
    {"Airbus", "A300B4", 1, 2, 147, "airplane"},
    {"McDonnell Douglas", "MD-82", 1, 2, 107.8, "airplane"},
    {"Douglas", "DC-3", 0, 2, 95, "airplane"},
    {"Fokker", "70", 1, 2, 92.1, "airplane"},
    {"Bombardier", "CRJ-200", 1, 2, 69.6, "airplane"},
    {"Embraer", "ERJ-145", 1, 2, 65.8, "airplane"},
    {"De Havilland", "Dash 8-300", 5, 2, 90, "airplane"},
    {"ATR", "72-500", 5, 2, 88.8, "airplane"},
    {"Cessna", "Skyhawk 172SP", 0, 1, 36, "airplane"},
    {"Cessna", "Grand Caravan", 5, 1, 52.1, "airplane"},
    {"Beech", "Baron 58", 0, 2, 37.8, "airplane"},
    {"Beech", "King Air 350", 5, 2, 57.9, "airplane"},
    {"Piper", "J-3 Cub", 0, 1, 35.2, "airplane"},
    {"Learjet", "45", 1, 2, 47.9, "airplane"},
    {"Bell", "206B JetRanger", 3, 1, 33, "helicopter"},
    {"Eurocopter", "EC135", 3, 2, 33, "helicopter"},
    {"Robinson", "R44", 0, 1, 33, "helicopter"},
    {"Schleicher", "ASK 21 Glider", 2, 0, 55.8, "airplane"},
};

const char* const kAirlines[] = {"American Airlines",
                                 "Delta",
                                 "United",
                                 "Lufthansa",
                                 "KLM",
                                 "Air France",
                                 "British Airways",
                                 "Alitalia",
                                 "Iberia",
                                 "Qantas",
                                 "Air Canada",
                                 "Ryanair",
                                 "easyJet",
                                 "Swissair",
                                 "SAS",
                                 "Aeroflot",
                                 "JAL",
                                 "Cathay Pacific",
                                 "Singapore",
                                 "Emirates",
                                 "Southwest",
                                 "Continental",
                                 "Northwest",
                                 "TWA",
                                 "Pan Am",
                                 "Police",
                                 "Coast Guard",
                                 "Private",
                                 "Air Berlin",
                                 "Virgin"};

void fill(Hangar& h, int count, std::mt19937& rng) {
    std::uniform_int_distribution<int> type(0, static_cast<int>(std::size(kTypes)) - 1);
    std::uniform_int_distribution<int> airline(0, static_cast<int>(std::size(kAirlines)) - 1);
    std::uniform_int_distribution<int> reg(100, 99999);
    for (int i = 0; i < count; ++i) {
        const Type& t = kTypes[type(rng)];
        const QString air = QString::fromLatin1(kAirlines[airline(rng)]);
        const auto a = h.Add(QStringLiteral("%1 %2 %3 N%4").arg(t.maker, t.model, air).arg(reg(rng)));
        a->Manufacturer = QString::fromLatin1(t.maker);
        a->Type = QString::fromLatin1(t.model);
        a->Variation = air;
        a->Airline = air;
        a->Category = QString::fromLatin1(t.category);
        a->EngineType = t.engineType;
        a->EngineCount = t.engines;
        a->WingSpan = t.span;
    }
}

QStringList remoteTitles(const Hangar& h, std::mt19937& rng) {
    QStringList out;
    const auto all = h.NewEnum();
    std::uniform_int_distribution<std::size_t> pick(0, all.size() - 1);
    for (int i = 0; i < 200; ++i) {
        const QString t = all[pick(rng)]->Title;
        out << t.toUpper() << t.left(Matcher::kCutTitleChars) << t.left(t.lastIndexOf(' ')) + " Charter";
    }
    out << "POSKY 767-300ER American Airl"
        << "Airbus A321 Lufthansa"
        << "Airbus A330-200 Air France"
        << "Boeing 717-200 AirTran"
        << "Fokker 100 Swissair"
        << "Dakota RAF Transport"
        << "Tupolev Tu-154M Aeroflot"
        << "Zlin Z-526 Trener"
        << "Pilatus PC-12 Rega"
        << "Sikorsky S-76 Offshore"
        << "DG808S Glider"
        << "xq zzv 999"
        << "" << QString(300, 'x');
    return out;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 20000;
    const int matches = argc > 2 ? std::max(1, atoi(argv[2])) : 200000;
    std::mt19937 rng(7);
    Hangar hangar;
    fill(hangar, count, rng);

    using Clock = std::chrono::steady_clock;
    const auto b0 = Clock::now();
    const Matcher matcher(hangar);
    const double buildMs = std::chrono::duration<double, std::milli>(Clock::now() - b0).count();

    const QStringList remote = remoteTitles(hangar, rng);
    const int engines[] = {0, 1, 2, 3, 5};
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(matches));
    long long found = 0;
    for (int i = 0; i < matches; ++i) {
        const QString& title = remote[i % remote.size()];
        const int engine = engines[(i / remote.size()) % std::size(engines)];
        const auto t0 = Clock::now();
        const Matcher::Match m = matcher.match(title, engine);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        found += m.index >= 0 ? 1 : 0;
    }
    std::printf("installed aircraft %d, remote titles %lld, matches %d (%lld found an aircraft)\n", matcher.count(),
                static_cast<long long>(remote.size()), matches, found);
    std::printf("index built in %.1f ms, about %.2f MiB\n", buildMs,
                static_cast<double>(matcher.memoryBytes()) / (1024.0 * 1024.0));
    std::printf("one match: median %.2f us, p99 %.2f us, worst %.2f us (target p99 under 50 us)\n", percentile(us, 0.5),
                percentile(us, 0.99), percentile(us, 1.0));
    return 0;
}
