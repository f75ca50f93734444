#pragma once

#include "simlink/dplay/nativesession.h"
#include "standin/dplay/dphost.h"

#include <QTest>

#include <memory>

namespace airmesh::dplay::test {

using dphost::DpHost;
using dphost::HostOptions;

inline const QString kFirstGuid = QStringLiteral("{97C62470-5F53-4098-A8BB-7F1F93B94D93}");
inline const QString kSecondGuid = QStringLiteral("{1F0CB318-F159-432F-8C38-8CE753A03CDA}");

// A host on a free enumeration port of 127.0.0.1 and joiners pointed at it, all on one clock
// that moves only when the test moves it.
struct HostRig {
    explicit HostRig(HostOptions o = {}) {
        if (!o.clock) {
            o.clock = clock;
        }
        if (o.application == kNullGuid) {
            o.application = *parseGuid(kFirstGuid);
        }
        if (o.ownShortName.isEmpty()) {
            o.ownShortName = QStringLiteral("Pilot");
            o.ownLongName = QStringLiteral("Pilot");
        }
        o.enumPort = 0; // any free port: tests run side by side
        host = std::make_unique<DpHost>(o);
        QString error;
        started = host->start(error);
        if (!started) {
            qWarning("host did not start: %s", qPrintable(error));
        }
    }

    NativeOptions joinerOptions() const {
        NativeOptions o;
        const QString address = QStringLiteral("127.0.0.1:%1").arg(host->enumPort());
        o.prompt = [address](const QString&) { return std::optional<QString>(address); };
        o.enumWindowMs = 1500;
        // The host tells its one session in one answer: the search takes it without waiting for
        // more, so that a join needs no time to pass on the clock.
        o.enumSettleMs = 0;
        o.clock = clock;
        return o;
    }

    std::unique_ptr<NativeSession> joiner(NativeOptions o) const {
        return std::make_unique<NativeSession>(std::move(o));
    }
    std::unique_ptr<NativeSession> joiner() const { return joiner(joinerOptions()); }

    // Finds the session under `guid` and opens it.
    static void join(NativeSession& s, const QString& guid = kFirstGuid, const QString& password = {}) {
        const ConnectionList providers = s.GetDPEnumConnections({}, 1);
        s.InitializeConnection(providers.GetAddress(1));
        SessionData search;
        search.SetGuidApplication(guid);
        search.SetSessionPassword(password);
        const SessionList found = s.GetDPEnumSessions(search, 0, 2);
        SessionData item = found.GetItem(1);
        item.SetSessionPassword(password);
        s.Open(item, 1);
    }

    // Waits (bounded) for host events until `pred` holds over all collected events.
    template <typename Pred> bool waitEvents(Pred pred, int ms = 3000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            for (auto& e : host->takeEvents()) {
                events.push_back(std::move(e));
            }
            if (pred(events)) {
                return true;
            }
            QThread::msleep(2);
        }
        return false;
    }

    std::shared_ptr<ManualNodeClock> clock = std::make_shared<ManualNodeClock>();
    std::unique_ptr<DpHost> host;
    std::vector<DpHost::Event> events;
    bool started = false;
};

} // namespace airmesh::dplay::test
