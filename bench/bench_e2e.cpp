// End-to-end latency of a position update through real processes on loopback:
//
//   fs-standin A -> bench_e2e_client A (native session) -> airmesh-server -> bench_e2e_client B
//   -> fs-standin B, and back the other way,
//
// with the stand-ins' send time stamped into their own position blocks (bytes the client and
// the server carry through unchanged). Besides the two clients, this program logs raw pilots on
// to the server: a listener that times what reaches the server from each client (the simulator
// -> server half, server relay included) and from the raw senders (the server relay alone),
// and raw senders whose positions fs-standin B times (the server -> simulator half). For each
// rate and count of remote pilots it prints median / p99 / max per road, and the same figures
// for a plain UDP relay through as many hops run at the same time. Then it measures the idle CPU
// of a logged-on client over 30 s (utime + stime from /proc/<pid>/stat), and its CPU while 64
// pilots fly around it at 10 Hz, and while a crowd of 500 does at 4 Hz with 14 of them shown in
// its simulator, each with its Traffic window closed and open.
//
//   bench_e2e [--bin DIR] [--seconds S] [--idle-seconds S] [--traffic-seconds S]
//             [--traffic-window closed|open|both] [--crowd 500] [--rates 4,20] [--pilots 1,15]
// DIR is the build tree (default: the one this program was built in).
#include "procstat.h"
#include "wire/positionblock.h"
#include "wire/records.h"

#include <QByteArray>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace airmesh;
using namespace airmesh::wire;
using SteadyClock = std::chrono::steady_clock;

namespace {

// Where fs-standin --stamp-positions puts a send time in the 52-byte block: the low 32 bits of
// the microseconds in the application time, the high 32 bits in the reserved bytes.
constexpr int kStampLowOffset = 4;
constexpr int kStampHighOffset = 24;
constexpr int kBlockOffset = 16; // the block's place in a 128-byte record

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "bench_e2e: %s (%s)\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

qint64 nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now().time_since_epoch()).count();
}

void putStamp(char* block, qint64 us) {
    const auto v = static_cast<quint64>(us);
    for (int i = 0; i < 4; ++i) {
        block[kStampLowOffset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        block[kStampHighOffset + i] = static_cast<char>((v >> (32 + 8 * i)) & 0xFF);
    }
}

qint64 getStamp(const char* block) {
    quint64 v = 0;
    for (int i = 0; i < 4; ++i) {
        v |= static_cast<quint64>(static_cast<unsigned char>(block[kStampLowOffset + i])) << (8 * i);
        v |= static_cast<quint64>(static_cast<unsigned char>(block[kStampHighOffset + i])) << (32 + 8 * i);
    }
    return static_cast<qint64>(v);
}

// A child process with its standard output on a pipe that a thread reads line by line.
struct Child {
    pid_t pid = -1;
    int out = -1;
    std::thread reader;
    std::vector<std::string> lines;
    std::mutex mutex;

    void start(const std::vector<std::string>& argv) {
        int fds[2];
        if (::pipe(fds) != 0) {
            die("pipe");
        }
        pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], 1);
            ::close(fds[0]);
            std::vector<char*> args;
            for (const std::string& a : argv) {
                args.push_back(const_cast<char*>(a.c_str()));
            }
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            std::_Exit(127);
        }
        ::close(fds[1]);
        out = fds[0];
        reader = std::thread([this] {
            std::string line;
            char buf[4096];
            ssize_t n;
            while ((n = ::read(out, buf, sizeof buf)) > 0) {
                for (ssize_t i = 0; i < n; ++i) {
                    if (buf[i] == '\n') {
                        std::lock_guard lock(mutex);
                        lines.push_back(line);
                        line.clear();
                    } else {
                        line += buf[i];
                    }
                }
            }
        });
    }
    // Waits for a line containing `text`; returns it, or empty on time-out.
    std::string waitFor(const std::string& text, int ms) {
        const auto end = SteadyClock::now() + std::chrono::milliseconds(ms);
        while (SteadyClock::now() < end) {
            {
                std::lock_guard lock(mutex);
                for (const std::string& l : lines) {
                    if (l.find(text) != std::string::npos) {
                        return l;
                    }
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return {};
    }
    // CPU time of every thread of the process in nanoseconds (the scheduler's own account, finer
    // than the clock ticks of /proc/<pid>/stat).
    long long cpuNs() const {
        long long total = 0;
        const std::string task = "/proc/" + std::to_string(pid) + "/task";
        if (DIR* d = ::opendir(task.c_str())) {
            while (const dirent* e = ::readdir(d)) {
                std::ifstream f(task + "/" + e->d_name + "/schedstat");
                long long ns = 0;
                if (e->d_name[0] != '.' && f >> ns) {
                    total += ns;
                }
            }
            ::closedir(d);
        }
        return total;
    }
    long long cpuTicks() const { return processCpuTicks(pid); }
    void stop() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            int status = 0;
            ::waitpid(pid, &status, 0);
            pid = -1;
        }
        if (reader.joinable()) {
            reader.join();
        }
        if (out >= 0) {
            ::close(out);
            out = -1;
        }
    }
    ~Child() { stop(); }
};

sockaddr_in loopback(quint16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

quint16 boundPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

int udpSocket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in any = loopback(0);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        die("bind");
    }
    const int rcvbuf = 1 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    return fd;
}

// A pilot speaking the server protocol directly.
struct RawPilot {
    int tcp = -1, udp = -1;
    qint32 session = 0;

    void logOn(quint16 tcpPort, quint16 udpPort, int id, const std::string& handle) {
        tcp = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in tcpTo = loopback(tcpPort);
        if (::connect(tcp, reinterpret_cast<const sockaddr*>(&tcpTo), sizeof tcpTo) != 0) {
            die("connect");
        }
        const QByteArray logon = toServer::logonRequest(id, 1, QString::fromStdString(handle)).toBytes();
        if (::write(tcp, logon.constData(), kRecordBytes) != kRecordBytes) {
            die("logon write");
        }
        char buf[kRecordBytes];
        for (;;) {
            size_t got = 0;
            while (got < kRecordBytes) {
                const ssize_t n = ::read(tcp, buf + got, kRecordBytes - got);
                if (n <= 0) {
                    die("TCP read");
                }
                got += static_cast<size_t>(n);
            }
            const ServerRecord r = ServerRecord::fromBytes(QByteArray(buf, kRecordBytes));
            if (r.type() == RecordType::LogonAccepted) {
                session = decode<LogonAccepted>(r).session;
                break;
            }
        }
        ::fcntl(tcp, F_SETFL, O_NONBLOCK);
        udp = udpSocket();
        const sockaddr_in udpTo = loopback(udpPort);
        ::connect(udp, reinterpret_cast<const sockaddr*>(&udpTo), sizeof udpTo);
        send(toServer::heartBeat(session));
        for (;;) {
            pollfd pfd{udp, POLLIN, 0};
            if (::poll(&pfd, 1, 5000) <= 0) {
                die("no heartbeat answer");
            }
            if (::recv(udp, buf, sizeof buf, 0) == kRecordBytes &&
                ServerRecord::fromBytes(QByteArray(buf, kRecordBytes)).type() == RecordType::HeartBeat) {
                break;
            }
        }
        // The clients place a pilot's aircraft only once they know its type.
        send(toServer::aircraftDetails(session, 0, QStringLiteral("Piper J-3 Cub"), true));
    }
    void send(const ServerRecord& r) const { ::send(udp, r.toBytes().constData(), kRecordBytes, 0); }
    // Keeps the TCP stream read so that the server never drops us for a full queue.
    void drainTcp() const {
        char buf[4096];
        while (::read(tcp, buf, sizeof buf) > 0) {
        }
    }
    void close() {
        ::close(tcp);
        ::close(udp);
    }
};

struct Stats {
    std::vector<qint64> us;
    void add(qint64 v) { us.push_back(v); }
    std::string text() {
        if (us.empty()) {
            return "          (no samples)";
        }
        std::sort(us.begin(), us.end());
        const auto at = [this](double q) {
            return static_cast<double>(us[std::min(us.size() - 1, static_cast<size_t>(q * us.size()))]) / 1000.0;
        };
        char line[160];
        std::snprintf(line, sizeof line, "%8.2f %8.2f %8.2f  ms  (%zu)", at(0.5), at(0.99),
                      static_cast<double>(us.back()) / 1000.0, us.size());
        return line;
    }
};

// A plain UDP relay: `hops` datagram hops through forwarding processes, carrying `streams`
// streams at `rate` per second each, stamped and timed like the positions.
Stats udpChain(int hops, int streams, double rate, double seconds) {
    std::vector<int> socks;
    for (int i = 0; i <= hops; ++i) {
        socks.push_back(udpSocket());
    }
    std::vector<pid_t> forwarders;
    for (int i = 1; i < hops; ++i) {
        const quint16 next = boundPort(socks[i + 1]);
        const int in = socks[i];
        const pid_t pid = ::fork();
        if (pid == 0) {
            const sockaddr_in to = loopback(next);
            char buf[2048];
            for (;;) {
                const ssize_t n = ::recv(in, buf, sizeof buf, 0);
                if (n > 0) {
                    ::sendto(in, buf, static_cast<size_t>(n), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
                }
            }
        }
        forwarders.push_back(pid);
    }
    Stats stats;
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        char buf[2048];
        while (!done) {
            pollfd pfd{socks[hops], POLLIN, 0};
            if (::poll(&pfd, 1, 100) > 0 && ::recv(socks[hops], buf, sizeof buf, 0) == kRecordBytes) {
                stats.add(nowUs() - getStamp(buf + kBlockOffset));
            }
        }
    });
    const sockaddr_in first = loopback(boundPort(socks[1]));
    const auto period = std::chrono::microseconds(static_cast<long long>(1e6 / rate / streams));
    auto next = SteadyClock::now();
    const auto end = next + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    char record[kRecordBytes] = {};
    while (SteadyClock::now() < end) {
        std::this_thread::sleep_until(next);
        putStamp(record + kBlockOffset, nowUs());
        ::sendto(socks[0], record, kRecordBytes, 0, reinterpret_cast<const sockaddr*>(&first), sizeof first);
        next += period;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    done = true;
    receiver.join();
    for (const pid_t pid : forwarders) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    for (const int s : socks) {
        ::close(s);
    }
    return stats;
}

struct Programs {
    std::string server, standin, client;
};

struct Rig {
    Child server, fsA, fsB, clientA, clientB;
    quint16 udp = 0, tcp = 0;
    std::string dir;
    std::vector<std::string> clientArgs; // more options for the clients

    void startServer(const Programs& p) {
        server.start(
            {p.server, "--open", "--listen", "127.0.0.1", "--udp-port", "0", "--tcp-port", "0", "--max-pilots", "600"});
        const std::string line = server.waitFor("UDP ", 5000);
        unsigned u = 0, t = 0;
        const auto at = line.find("UDP ");
        if (at == std::string::npos || std::sscanf(line.c_str() + at, "UDP %u, TCP %u", &u, &t) != 2) {
            die("server did not start: " + line);
        }
        udp = static_cast<quint16>(u);
        tcp = static_cast<quint16>(t);
    }
    void startPair(const Programs& p, Child& fs, Child& client, const std::string& name, int enumPort, double rate,
                   int pilotId) {
        const std::string folder = dir + "/" + name;
        ::mkdir(folder.c_str(), 0700);
        fs.start({p.standin, "--handle", name, "--enum-port", std::to_string(enumPort), "--rate", std::to_string(rate),
                  "--report-seconds", "3600", "--quiet-session", "--stamp-positions", "--latency-log",
                  folder + "/latency.tsv"});
        if (fs.waitFor("hosting", 5000).empty()) {
            die("fs-standin " + name + " did not start");
        }
        std::vector<std::string> args{p.client,
                                      "--session-host",
                                      "localhost:" + std::to_string(enumPort),
                                      "--udp-port",
                                      std::to_string(udp),
                                      "--tcp-port",
                                      std::to_string(tcp),
                                      "--pilot-id",
                                      std::to_string(pilotId),
                                      "--folder",
                                      folder};
        args.insert(args.end(), clientArgs.begin(), clientArgs.end());
        client.start(args);
        if (client.waitFor("logged on", 30000).empty()) {
            die("client " + name + " did not log on");
        }
    }
};

// fs-standin's latency log (name, send time, delay; tab-separated, microseconds): the delays of
// `player` (or of all others when `others`) sent within [from, to).
Stats readLatency(const std::string& file, const std::string& player, bool others, qint64 from, qint64 to) {
    Stats s;
    std::ifstream f(file);
    std::string line;
    while (std::getline(f, line)) {
        std::istringstream fields(line);
        std::string name;
        long long sent = 0, delay = 0;
        if (std::getline(fields, name, '\t') && fields >> sent >> delay && (name == player) != others && sent >= from &&
            sent < to) {
            s.add(delay);
        }
    }
    return s;
}

void runOne(const Programs& p, double rate, int remote, double seconds) {
    char tmpl[] = "/tmp/bench_e2e.XXXXXX";
    Rig rig;
    rig.dir = ::mkdtemp(tmpl);
    rig.startServer(p);
    rig.startPair(p, rig.fsA, rig.clientA, "PilotA", 47700, rate, 9001);
    rig.startPair(p, rig.fsB, rig.clientB, "PilotB", 47701, rate, 9002);

    // The listener, and the raw senders that make up the remote pilots besides the other
    // client (one at least, to time the server -> simulator half).
    RawPilot listener;
    listener.logOn(rig.tcp, rig.udp, 9100, "Listener");
    const int senders = std::max(1, remote - 1);
    std::vector<RawPilot> raw(static_cast<size_t>(senders));
    for (int i = 0; i < senders; ++i) {
        raw[static_cast<size_t>(i)].logOn(rig.tcp, rig.udp, 9200 + i, "Raw" + std::to_string(i));
    }
    std::atomic<bool> done{false};
    std::atomic<bool> measuring{false};
    Stats fromClients, fromRaw;
    std::thread listen([&] {
        std::map<qint32, bool> isRaw;
        for (const RawPilot& r : raw) {
            isRaw[r.session] = true;
        }
        char buf[2048];
        while (!done) {
            listener.drainTcp();
            pollfd pfd{listener.udp, POLLIN, 0};
            if (::poll(&pfd, 1, 100) <= 0) {
                continue;
            }
            const qint64 now = nowUs();
            if (::recv(listener.udp, buf, sizeof buf, 0) != kRecordBytes) {
                continue;
            }
            const ServerRecord r = ServerRecord::fromBytes(QByteArray(buf, kRecordBytes));
            if (measuring && r.type() == RecordType::PositionUpdate) {
                (isRaw.count(r.SenderSession) ? fromRaw : fromClients).add(now - getStamp(buf + kBlockOffset));
            }
        }
    });
    std::thread send([&] {
        const auto period = std::chrono::microseconds(static_cast<long long>(1e6 / rate / senders));
        auto next = SteadyClock::now();
        char block[52] = {};
        for (size_t i = 0; !done; i = (i + 1) % raw.size()) {
            std::this_thread::sleep_until(next);
            next += period;
            raw[i].drainTcp();
            putStamp(block, nowUs());
            raw[i].send(toServer::positionUpdate(raw[i].session, QByteArray(block, 52)));
        }
    });

    // Warm up until every client has placed every pilot, then measure.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    measuring = true;
    const qint64 from = nowUs();
    // Meanwhile, the plain UDP relays through as many hops, with as many streams.
    Stats udp3 = udpChain(3, remote, rate, seconds);
    Stats udp4 = udpChain(4, remote, rate, seconds);
    measuring = false;
    const qint64 to = nowUs();
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // the last ones may still be on the way
    done = true;
    send.join();
    listen.join();
    rig.fsA.stop();
    rig.fsB.stop();
    Stats full = readLatency(rig.dir + "/PilotB/latency.tsv", "PilotA", false, from, to);
    Stats back = readLatency(rig.dir + "/PilotA/latency.tsv", "PilotB", false, from, to);
    Stats serverToSim = readLatency(rig.dir + "/PilotB/latency.tsv", "PilotA", true, from, to);
    rig.clientA.stop();
    rig.clientB.stop();
    rig.server.stop();
    listener.close();
    for (RawPilot& r : raw) {
        r.close();
    }

    std::printf("\n%g Hz per pilot, %d remote pilot%s (%d raw sender%s)          median      p99      max\n", rate,
                remote, remote == 1 ? "" : "s", senders, senders == 1 ? "" : "s");
    std::printf("  sim -> server (fs A -> client A -> server -> raw)  %s\n", fromClients.text().c_str());
    std::printf("  server relay alone (raw -> server -> raw)          %s\n", fromRaw.text().c_str());
    std::printf("  server -> sim (raw -> server -> client B -> fs B)  %s\n", serverToSim.text().c_str());
    std::printf("  sim -> sim (fs A -> A -> server -> B -> fs B)      %s\n", full.text().c_str());
    std::printf("  sim -> sim back (fs B -> ... -> fs A)              %s\n", back.text().c_str());
    std::printf("  plain UDP relay, 3 hops                            %s\n", udp3.text().c_str());
    std::printf("  plain UDP relay, 4 hops                            %s\n", udp4.text().c_str());
    std::fflush(stdout);
    std::string rm = "rm -rf " + rig.dir;
    [[maybe_unused]] const int rc = std::system(rm.c_str());
}

// The client's CPU while `kPilots` pilots fly around the user at `kRate` Hz each, with its
// Traffic window closed (the relay alone) and open (refreshed once a second). Its simulator
// (fs-standin) holds 16 players: with more than 14 pilots the rest wait for a place.
void trafficCpu(const Programs& p, double seconds, const std::string& windows, int kPilots, double kRate) {
    std::printf("\nclient CPU, %d pilots at %g Hz (%d shown in FS), the user's simulator at %g Hz, over %.0f s each:\n",
                kPilots, kRate, std::min(kPilots, 14), 10.0, seconds);
    // The window closed, open with its scope, and open with the scope folded away (the table alone).
    for (const int mode : {0, 1, 2}) {
        const bool open = mode != 0;
        if (windows != "both" && windows != (open ? "open" : "closed")) {
            continue;
        }
        char tmpl[] = "/tmp/bench_e2e.XXXXXX";
        Rig rig;
        rig.dir = ::mkdtemp(tmpl);
        rig.clientArgs = mode == 0   ? std::vector<std::string>{}
                         : mode == 1 ? std::vector<std::string>{"--traffic-window"}
                                     : std::vector<std::string>{"--traffic-window", "--no-scope"};
        rig.startServer(p);
        rig.startPair(p, rig.fsA, rig.clientA, "PilotA", 47703, 10, 9004);
        std::vector<RawPilot> raw(kPilots);
        for (int i = 0; i < kPilots; ++i) {
            raw[static_cast<size_t>(i)].logOn(rig.tcp, rig.udp, 9300 + i, "Traffic" + std::to_string(i));
        }
        std::atomic<bool> done{false};
        std::thread send([&] {
            const auto period = std::chrono::microseconds(static_cast<long long>(1e6 / kRate / kPilots));
            auto next = SteadyClock::now();
            quint32 n = 0;
            for (size_t i = 0; !done; i = (i + 1) % raw.size(), ++n) {
                std::this_thread::sleep_until(next);
                next += period;
                raw[i].drainTcp();
                // Spread over 60 nm around Seattle-Tacoma (a crowd over 3 degrees), each moving a little.
                const size_t rows = kPilots > 64 ? 25 : 8;
                AircraftPosition at;
                at.latitudeDeg = 47.45 + static_cast<double>(i % rows) * 0.12 + static_cast<double>(n % 100) * 1e-5;
                at.longitudeDeg = -122.31 + static_cast<double>(i / rows) * 0.15;
                at.altitudeFt = 1000 + 100 * static_cast<double>(i % 64);
                at.headingDeg = static_cast<double>((i * 37) % 360);
                at.groundSpeedKt = 120;
                raw[i].send(toServer::positionUpdate(raw[i].session, encodePosition(at, n)));
            }
        });
        std::this_thread::sleep_for(std::chrono::seconds(kPilots > 64 ? 15 : 3)); // every pilot placed
        const long long beforeNs = rig.clientA.cpuNs();
        const auto t0 = SteadyClock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
        const long long ns = rig.clientA.cpuNs() - beforeNs;
        const double wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
        done = true;
        send.join();
        std::printf("  Traffic window %-21s  %.1f ms = %.3f %% of a core\n",
                    mode == 0 ? "closed" : (mode == 1 ? "open, with the scope" : "open, table alone"),
                    static_cast<double>(ns) / 1e6, 100.0 * static_cast<double>(ns) / 1e9 / wall);
        std::fflush(stdout);
        rig.fsA.stop();
        rig.clientA.stop();
        rig.server.stop();
        for (RawPilot& r : raw) {
            r.close();
        }
        std::string rm = "rm -rf " + rig.dir;
        [[maybe_unused]] const int rc = std::system(rm.c_str());
    }
}

void idleCpu(const Programs& p, double seconds) {
    char tmpl[] = "/tmp/bench_e2e.XXXXXX";
    Rig rig;
    rig.dir = ::mkdtemp(tmpl);
    rig.startServer(p);
    // A simulator that sends nothing, and no other pilot: the client has nothing to relay.
    rig.startPair(p, rig.fsA, rig.clientA, "PilotA", 47702, 0, 9003);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long long before = rig.clientA.cpuTicks();
    const long long beforeNs = rig.clientA.cpuNs();
    const auto t0 = SteadyClock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
    const long long ticks = rig.clientA.cpuTicks() - before;
    const long long ns = rig.clientA.cpuNs() - beforeNs;
    const double wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    std::printf("\nidle client CPU over %.0f s: %.1f ms = %.3f %% of a core (/proc/<pid>/stat: %lld ticks = %.3f %%)\n",
                wall, static_cast<double>(ns) / 1e6, 100.0 * static_cast<double>(ns) / 1e9 / wall, ticks,
                100.0 * static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK)) / wall);
    std::string rm = "rm -rf " + rig.dir;
    [[maybe_unused]] const int rc = std::system(rm.c_str());
}

std::vector<double> numbers(const std::string& list) {
    std::vector<double> out;
    std::stringstream s(list);
    std::string item;
    while (std::getline(s, item, ',')) {
        out.push_back(std::stod(item));
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    std::string bin = AIRMESH_BUILD_DIR;
    double seconds = 10, idleSeconds = 30, trafficSeconds = 20;
    std::string rates = "4,20", pilots = "1,15";
    std::string trafficWindows = "both"; // closed, open or both: a client without the window takes closed
    int crowd = 500;                     // pilots at 4 Hz beside the 64 at 10 Hz; 0: none
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--bin") {
            bin = argv[i + 1];
        } else if (a == "--seconds") {
            seconds = std::stod(argv[i + 1]);
        } else if (a == "--idle-seconds") {
            idleSeconds = std::stod(argv[i + 1]);
        } else if (a == "--rates") {
            rates = argv[i + 1];
        } else if (a == "--traffic-window") {
            trafficWindows = argv[i + 1];
        } else if (a == "--traffic-seconds") {
            trafficSeconds = std::stod(argv[i + 1]);
        } else if (a == "--crowd") {
            crowd = std::stoi(argv[i + 1]);
        } else if (a == "--pilots") {
            pilots = argv[i + 1];
        }
    }
    ::signal(SIGPIPE, SIG_IGN);
    // A crowd of raw pilots holds two sockets each.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    const Programs p{bin + "/apps/airmesh-server/airmesh-server", bin + "/apps/fs-standin/fs-standin",
                     bin + "/bench/bench_e2e_client"};
    std::printf("added delay of a position update, loopback, %g s per row (each row: median, p99, max)\n", seconds);
    for (const double rate : numbers(rates)) {
        for (const double n : numbers(pilots)) {
            runOne(p, rate, static_cast<int>(n), seconds);
        }
    }
    if (trafficSeconds > 0) {
        trafficCpu(p, trafficSeconds, trafficWindows, 64, 10);
        if (crowd > 0) {
            trafficCpu(p, trafficSeconds, trafficWindows, crowd, 4);
        }
    }
    if (idleSeconds > 0) {
        idleCpu(p, idleSeconds);
    }
    return 0;
}
