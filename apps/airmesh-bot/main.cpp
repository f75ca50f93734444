// airmesh-bot: headless pilots for trying a server. Wires the real parts together only.
#include "bot/botfleet.h"
#include "core/stdinlines.h"
#include "core/stopsignals.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace airmesh;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("airmesh-bot"));

    BotRun run;
    QString error;
    QString usage;
    if (!parseBotArguments(QCoreApplication::arguments().mid(1), run, error, &usage)) {
        std::fprintf(stderr, "airmesh-bot: %s\n%s", qPrintable(error), qPrintable(usage));
        return 2;
    }
    if (run.help) {
        std::fputs(qPrintable(usage), stdout);
        return 0;
    }

    std::unique_ptr<QTemporaryDir> scratch;
    QString folder = run.folder;
    if (folder.isEmpty()) {
        scratch = std::make_unique<QTemporaryDir>();
        if (!scratch->isValid()) {
            std::fprintf(stderr, "airmesh-bot: no temporary folder\n");
            return 1;
        }
        folder = scratch->path();
    }

    QTextStream out(stdout);
    const auto print = [&out](const QString& line) {
        out << line << Qt::endl; // flushed: a reader on a pipe sees each event as it happens
    };
    SystemClock clock;
    BotFleet fleet(run.bots, folder, clock, print);
    StdinLines input;
    StopSignals stopSignals;

    bool stopping = false;
    const auto stop = [&](const QString& why) {
        if (stopping) {
            return;
        }
        stopping = true;
        print(QStringLiteral("stopping: ") + why);
        fleet.stop();
        // Let the closed connections and last datagrams go out before the sockets are gone.
        QTimer::singleShot(100, &app, [] { QCoreApplication::exit(0); });
    };
    QObject::connect(&input, &StdinLines::lineRead, &fleet, &BotFleet::execute);
    QObject::connect(&fleet, &BotFleet::quitRequested, &app, [&] { stop(QStringLiteral("quit")); });
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &app, [&] { stop(QStringLiteral("signal")); });
    if (run.runSeconds > 0) {
        QTimer::singleShot(run.runSeconds * 1000, &app, [&] { stop(QStringLiteral("run time over")); });
    }

    if (!fleet.start() && fleet.size() == 1) {
        return 1;
    }
    return QCoreApplication::exec();
}
