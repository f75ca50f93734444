// Load benchmark of the reference server: starts the built airmesh-server, logs N synthetic
// pilots on over TCP, then has each send 10 position updates a second over UDP with its send
// time in the position block. Reports, per N, the relay latency from the send to the receipt
// at every other pilot (p50, p99, max), lost datagrams, and the server's CPU time over the
// measurement window as a fraction of one core (utime + stime from /proc/<pid>/stat).
//
// With --groups G the pilots are split into G groups (pilot i in group i % G), each circling
// one of G spots spread over the world (one on the date line, the rest at least 900 nm apart),
// and --range-nm N starts the server with that range: a pilot's positions are then expected at
// the other pilots of his group only. The server's peak resident memory (VmHWM) is reported too.
//
// --http-poll 1 has a client fetch /status.json and /metrics in turn, as fast as the server
// answers, during the run; --hashed-logons R logs pilot 9 (an Argon2id-hashed account written
// with the server's --add-pilot) on R times a second and reports how long each logon took.
//
//   bench_serverload [--server PATH] [--seconds S] [--pilots 8,16,32,64] [--groups G] [--range-nm N]
//                    [--http-poll 1] [--hashed-logons R]
// The server is found by --server, else $AIRMESH_SERVER, else ../apps/airmesh-server/ next to
// this program in the build tree.
#include "procstat.h"
#include "wire/positionblock.h"
#include "wire/records.h"

#include <QByteArray>

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace airmesh;
using namespace airmesh::wire;
using Clock = std::chrono::steady_clock;

namespace {

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "bench_serverload: %s (%s)\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// The clock of the kernel's receive stamps: what senders write into their positions.
qint64 wallNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return qint64{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

struct ServerProcess {
    pid_t pid = -1;
    int out = -1;
    quint16 udp = 0, tcp = 0, http = 0;
    std::thread drain;

    void start(const std::string& binary, int maxPilots, double rangeNm, const std::vector<std::string>& extra) {
        int fds[2];
        if (::pipe(fds) != 0) {
            die("pipe");
        }
        pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], 1);
            ::close(fds[0]);
            const std::string max = std::to_string(maxPilots);
            const std::string range = std::to_string(rangeNm);
            // Every logon sends a PlayerJoined to everybody: room for a thousand of them unread.
            std::vector<const char*> args{binary.c_str(), "--open",    "--listen",        "127.0.0.1",
                                          "--udp-port",   "0",         "--tcp-port",      "0",
                                          "--max-pilots", max.c_str(), "--max-queue-kib", "4096"};
            if (rangeNm > 0) { // also runs a server from before the range filter
                args.insert(args.end(), {"--range-nm", range.c_str()});
            }
            for (const std::string& a : extra) {
                args.push_back(a.c_str());
            }
            if (!extra.empty() && extra.front() == "--accounts") {
                args.erase(args.begin() + 1); // not --open
            }
            args.push_back(nullptr);
            ::execv(binary.c_str(), const_cast<char* const*>(args.data()));
            std::_Exit(127);
        }
        ::close(fds[1]);
        out = fds[0];
        // The first line names the ports.
        std::string line;
        char c;
        while (::read(out, &c, 1) == 1 && c != '\n') {
            line += c;
        }
        unsigned u = 0, t = 0;
        const auto at = line.find("UDP ");
        if (at == std::string::npos || std::sscanf(line.c_str() + at, "UDP %u, TCP %u", &u, &t) != 2) {
            die("server did not start: " + line);
        }
        udp = static_cast<quint16>(u);
        tcp = static_cast<quint16>(t);
        unsigned h = 0;
        if (const auto ha = line.find("HTTP ");
            ha != std::string::npos && std::sscanf(line.c_str() + ha, "HTTP %u", &h) == 1) {
            http = static_cast<quint16>(h);
        }
        // Its log must never fill the pipe and stop it.
        drain = std::thread([fd = out] {
            char buf[4096];
            while (::read(fd, buf, sizeof buf) > 0) {
            }
        });
    }
    // utime + stime in clock ticks.
    long long cpuTicks() const { return processCpuTicks(pid); }
    // Peak resident memory in KiB (VmHWM of /proc/<pid>/status), 0 when unreadable.
    long long peakRssKiB() const {
        std::ifstream f("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(f, line);) {
            if (line.rfind("VmHWM:", 0) == 0) {
                return std::atoll(line.c_str() + 6);
            }
        }
        return 0;
    }
    void stop() {
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        drain.join();
        ::close(out);
    }
};

sockaddr_in loopback(quint16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

struct Pilot {
    int tcp = -1, udp = -1;
    qint32 session = 0;
};

void readRecord(int fd, char* buf) {
    size_t got = 0;
    while (got < kRecordBytes) {
        const ssize_t n = ::read(fd, buf + got, kRecordBytes - got);
        if (n <= 0) {
            die("TCP read");
        }
        got += static_cast<size_t>(n);
    }
}

int connectTo(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in to = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        die("connect");
    }
    return fd;
}

// What runs beside the pilots: a client polling the status page, hashed logons at a steady rate.
struct Extras {
    bool httpPoll = false;
    int hashedLogonsPerSecond = 0;
};
struct ExtrasResult {
    quint64 httpRequests = 0, logons = 0, logonFailures = 0, logonRejected = 0, logonUnanswered = 0;
    double logonP50Ms = 0, logonP99Ms = 0, logonMaxMs = 0;
};

// GET path on a connection of its own, the answer read to its end (the server closes it).
bool httpGet(quint16 port, const char* path) {
    const int fd = connectTo(port);
    const std::string req = std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    bool ok = ::write(fd, req.data(), req.size()) == static_cast<ssize_t>(req.size());
    std::string in;
    char buf[8192];
    for (ssize_t n; ok && (n = ::read(fd, buf, sizeof buf)) > 0;) {
        in.append(buf, static_cast<size_t>(n));
        const auto end = in.find("\r\n\r\n");
        const auto cl = in.find("Content-Length: ");
        if (end != std::string::npos && cl != std::string::npos &&
            in.size() >= end + 4 + std::stoul(in.substr(cl + 16))) {
            break;
        }
    }
    ::close(fd);
    return ok && in.rfind("HTTP/1.1 200", 0) == 0;
}

// One logon of hashed pilot 9 from 127.0.1.(k % 250 + 1); its time counted while measuring.
void hashedLogon(const ServerProcess& s, int k, const std::atomic<bool>& measuring, std::mutex& m,
                 std::vector<qint64>& times, ExtrasResult& out) {
    sockaddr_in from = loopback(0);
    from.sin_addr.s_addr = htonl(0x7f000100u + static_cast<quint32>(k % 250 + 1));
    const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int tcp = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in udpTo = loopback(s.udp), tcpTo = loopback(s.tcp);
    ::bind(udp, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    ::bind(tcp, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    const QByteArray hb = toServer::heartBeat(0).toBytes(); // shows the server our UDP port
    ::sendto(udp, hb.constData(), kRecordBytes, 0, reinterpret_cast<const sockaddr*>(&udpTo), sizeof udpTo);
    const qint64 t0 = nowNs();
    int answer = 0; // 1 accepted, -1 rejected, 0 none within 5 s
    const QByteArray logon = toServer::logonRequest(9, 99, QStringLiteral("Hashed")).toBytes();
    if (::connect(tcp, reinterpret_cast<const sockaddr*>(&tcpTo), sizeof tcpTo) == 0 &&
        ::write(tcp, logon.constData(), kRecordBytes) == kRecordBytes) {
        char buf[kRecordBytes];
        size_t got = 0;
        while (answer == 0) {
            pollfd fds[2] = {{tcp, POLLIN, 0}, {udp, POLLIN, 0}};
            if (::poll(fds, 2, static_cast<int>(std::max<qint64>(1, 5000 - (nowNs() - t0) / 1'000'000))) <= 0) {
                break;
            }
            if (fds[1].revents & POLLIN) {
                const ssize_t n = ::recv(udp, buf, sizeof buf, 0);
                if (n == kRecordBytes &&
                    ServerRecord::fromBytes(QByteArray(buf, kRecordBytes)).type() == RecordType::LogonRejected) {
                    answer = -1;
                }
            }
            if (fds[0].revents & (POLLIN | POLLHUP)) {
                const ssize_t n = ::read(tcp, buf + got, kRecordBytes - got);
                if (n <= 0) {
                    break;
                }
                got += static_cast<size_t>(n);
                if (got == kRecordBytes) {
                    got = 0;
                    if (ServerRecord::fromBytes(QByteArray(buf, kRecordBytes)).type() == RecordType::LogonAccepted) {
                        answer = 1;
                    }
                }
            }
        }
    }
    const qint64 t1 = nowNs();
    ::close(tcp);
    ::close(udp);
    if (measuring.load()) {
        const std::lock_guard lock(m);
        if (answer == 1) {
            ++out.logons;
            times.push_back(t1 - t0);
        } else {
            ++out.logonFailures;
            (answer < 0 ? out.logonRejected : out.logonUnanswered) += 1;
        }
    }
}

Pilot logOn(const ServerProcess& s, int index) {
    Pilot p;
    p.tcp = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in tcpTo = loopback(s.tcp);
    if (::connect(p.tcp, reinterpret_cast<const sockaddr*>(&tcpTo), sizeof tcpTo) != 0) {
        die("connect");
    }
    const QByteArray logon = toServer::logonRequest(1000 + index, 1, QStringLiteral("Bench%1").arg(index)).toBytes();
    if (::write(p.tcp, logon.constData(), kRecordBytes) != kRecordBytes) {
        die("logon write");
    }
    char buf[kRecordBytes];
    for (;;) {
        readRecord(p.tcp, buf);
        const ServerRecord r = ServerRecord::fromBytes(QByteArray(buf, kRecordBytes));
        if (r.type() == RecordType::LogonAccepted) {
            p.session = decode<LogonAccepted>(r).session;
            break;
        }
    }
    ::fcntl(p.tcp, F_SETFL, O_NONBLOCK);
    p.udp = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in any = loopback(0);
    ::bind(p.udp, reinterpret_cast<const sockaddr*>(&any), sizeof any);
    const int rcvbuf = 1 << 20;
    ::setsockopt(p.udp, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    const int stamp = 1;
    ::setsockopt(p.udp, SOL_SOCKET, SO_TIMESTAMPNS, &stamp, sizeof stamp);
    const sockaddr_in udpTo = loopback(s.udp);
    ::connect(p.udp, reinterpret_cast<const sockaddr*>(&udpTo), sizeof udpTo);
    // A heartbeat shows the server our port; wait for its answer (after a UDP LogonAccepted).
    const QByteArray hb = toServer::heartBeat(p.session).toBytes();
    ::send(p.udp, hb.constData(), kRecordBytes, 0);
    for (;;) {
        pollfd pfd{p.udp, POLLIN, 0};
        if (::poll(&pfd, 1, 5000) <= 0) {
            die("no heartbeat answer");
        }
        const ssize_t n = ::recv(p.udp, buf, sizeof buf, 0);
        if (n == kRecordBytes &&
            ServerRecord::fromBytes(QByteArray(buf, kRecordBytes)).type() == RecordType::HeartBeat) {
            break;
        }
    }
    ::fcntl(p.udp, F_SETFL, O_NONBLOCK);
    return p;
}

struct Result {
    int pilots = 0;
    quint64 sent = 0, expected = 0, received = 0;
    double p50Ms = 0, p99Ms = 0, maxMs = 0, cpuCores = 0, systemCores = 0, benchCores = 0, seconds = 0;
    long long rssKiB = 0;
    double floorUs = 0; // bareSendUs
};

// The kernel's own cost of a delivery on this machine: a bare loop sending `count` records to the
// pilots' sockets round-robin, `perCall` to a sendmmsg as the server sends one position's
// recipients, timed on this thread's CPU clock. Microseconds per datagram.
// It sends from the server's port, now free: the pilots' sockets take datagrams from there only.
double bareSendUs(const std::vector<Pilot>& pilots, quint16 serverPort, int perCall, int count) {
    std::vector<sockaddr_in> to(pilots.size());
    for (size_t i = 0; i < pilots.size(); ++i) {
        socklen_t len = sizeof to[i];
        ::getsockname(pilots[i].udp, reinterpret_cast<sockaddr*>(&to[i]), &len);
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in from = loopback(serverPort);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
        ::close(fd);
        return 0;
    }
    const QByteArray record = toClient::positionUpdate(7, QByteArray(PositionUpdate::kBlockBytes, 'F')).toBytes();
    std::vector<iovec> iov(static_cast<size_t>(perCall));
    std::vector<mmsghdr> msgs(static_cast<size_t>(perCall));
    timespec t0{}, t1{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
    size_t next = 0;
    int sent = 0;
    while (sent < count) {
        for (int m = 0; m < perCall; ++m) {
            iov[m] = {const_cast<char*>(record.constData()), kRecordBytes};
            msgs[m].msg_hdr = {};
            msgs[m].msg_hdr.msg_name = &to[next++ % to.size()];
            msgs[m].msg_hdr.msg_namelen = sizeof(sockaddr_in);
            msgs[m].msg_hdr.msg_iov = &iov[m];
            msgs[m].msg_hdr.msg_iovlen = 1;
        }
        const int n = ::sendmmsg(fd, msgs.data(), static_cast<unsigned>(perCall), 0);
        if (n <= 0) {
            break;
        }
        sent += n;
    }
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
    ::close(fd);
    const double ns = double(t1.tv_sec - t0.tv_sec) * 1e9 + double(t1.tv_nsec - t0.tv_nsec);
    return sent > 0 ? ns / 1e3 / sent : 0;
}

// Spot g of `groups`: five latitude rows, ten longitudes 36 degrees apart starting on the date line.
std::pair<double, double> spot(int g) {
    static constexpr double kLatitudes[] = {-45, -15, 15, 45, 62};
    return {kLatitudes[g % 5], -179.9 + 36.0 * (g / 5 % 10) + 7.0 * (g / 50)};
}

// Pilot i's position block: within 15 nm of his group's spot (0 groups: all at one place).
QByteArray blockOf(int i, int groups) {
    AircraftPosition p;
    const auto [lat, lon] = groups > 0 ? spot(i % groups) : std::pair{47.46, 8.55};
    const double angle = i * 2.399963; // golden angle: the pilots of a group spread round the spot
    const double nm = 3.0 + (i / std::max(groups, 1)) % 12;
    p.latitudeDeg = lat + nm / 60.0 * std::cos(angle);
    p.longitudeDeg = lon + nm / 60.0 * std::sin(angle) / std::cos(lat * 3.14159265358979 / 180.0);
    if (p.longitudeDeg < -180) {
        p.longitudeDeg += 360;
    }
    p.altitudeFt = 3000;
    p.groundSpeedKt = 120;
    return encodePosition(p);
}

Result run(const std::string& binary, int n, double seconds, int groups, double rangeNm, const Extras& extras,
           ExtrasResult& extrasOut) {
    ServerProcess server;
    std::vector<std::string> extra;
    std::string accounts;
    if (extras.hashedLogonsPerSecond > 0) {
        // The bench pilots on plain lines, pilot 9 (password 99) hashed by the server itself.
        char path[] = "/tmp/bench_serverload.XXXXXX";
        const int fd = ::mkstemp(path);
        accounts = path;
        std::string text;
        for (int i = 0; i < n; ++i) {
            text += std::to_string(1000 + i) + " 1\n";
        }
        if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            die("accounts file");
        }
        ::close(fd);
        const std::string add = binary + " --accounts " + accounts + " --add-pilot 9 --handle Hashed >/dev/null";
        FILE* p = ::popen(add.c_str(), "w");
        if (!p || std::fputs("99\n", p) < 0 || ::pclose(p) != 0) {
            die("--add-pilot");
        }
        extra = {"--accounts", accounts, "--logon-failures", "0"};
    }
    if (extras.httpPoll) {
        // A port free a moment ago.
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(0);
        socklen_t len = sizeof a;
        ::bind(probe, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(probe);
        extra.insert(extra.end(), {"--http-port", std::to_string(ntohs(a.sin_port))});
    }
    server.start(binary, n + (extras.hashedLogonsPerSecond > 0 ? 1 : 0), rangeNm, extra);
    std::vector<Pilot> pilots;
    for (int i = 0; i < n; ++i) {
        pilots.push_back(logOn(server, i));
        // A client sends its position as soon as it is on: the others' positions then reach the
        // newcomer only, instead of everybody's first position reaching everybody at once.
        const QByteArray first = toServer::positionUpdate(pilots.back().session, blockOf(i, groups)).toBytes();
        ::send(pilots.back().udp, first.constData(), kRecordBytes, 0);
    }

    const double warmup = 1.0;
    std::atomic<bool> stop{false};
    std::atomic<qint64> measureFrom{LLONG_MAX}, measureTo{LLONG_MAX};
    std::vector<qint64> latencies;
    // How many others get each pilot's positions.
    std::vector<int> audience(static_cast<size_t>(n), n - 1);
    if (groups > 0 && rangeNm > 0) {
        for (int i = 0; i < n; ++i) {
            audience[static_cast<size_t>(i)] = (n / groups + (i % groups < n % groups ? 1 : 0)) - 1;
        }
    }
    quint64 perRound = 0;
    for (const int a : audience) {
        perRound += static_cast<quint64>(a);
    }
    latencies.reserve(static_cast<size_t>(double(perRound) * 10 * (seconds + warmup + 1)));
    quint64 received = 0;

    // Receiver: every pilot's UDP socket and TCP stream (drained, so nobody counts as not reading).
    // Where the sender's clock sits in a relayed position record (the block's first 8 bytes).
    const QByteArray probe = toClient::positionUpdate(7, QByteArray(PositionUpdate::kBlockBytes, 'T')).toBytes();
    const auto stampAt = static_cast<size_t>(probe.indexOf(QByteArray(8, 'T')));
    const qint32 positionHeader[2] = {static_cast<qint32>(PositionUpdate::kCategory),
                                      static_cast<qint32>(PositionUpdate::kType)};

    // The relay delay of a datagram is the kernel's receive stamp (SO_TIMESTAMPNS: the moment the
    // server's send put it on the loopback) less the send time the sender wrote into it, so it
    // does not depend on when this thread gets round to reading. So it looks only every 10 ms
    // (a few datagrams wait in each socket by then, read with one call), with a poll that does
    // not wait: on loopback the server's send delivers into the receiving socket itself, and a
    // socket watched by a sleeping reader (or by an epoll set) would have it pay for a wake-up
    // too, which pilots on other machines never cost it.
    // And it reads at idle priority: the server's delay is stamped by the kernel as it sends, so a
    // reader that waits costs nothing in the figures, while one that takes the processor from
    // the server (these are two cores shared by everyone here) would add its bursts to them.
    std::thread receiver([&] {
        const sched_param idle{};
        ::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &idle);
        std::vector<pollfd> fds;
        for (const Pilot& p : pilots) {
            fds.push_back({p.udp, POLLIN, 0});
            fds.push_back({p.tcp, POLLIN, 0});
        }
        constexpr int kBatch = 32;
        static char bufs[kBatch][kRecordBytes + 1];
        static char controls[kBatch][CMSG_SPACE(sizeof(timespec))];
        std::array<iovec, kBatch> iov{};
        std::array<mmsghdr, kBatch> msgs{};
        char drain[16384];
        while (!stop.load(std::memory_order_relaxed)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (::poll(fds.data(), fds.size(), 0) <= 0) {
                continue;
            }
            for (size_t f = 0; f < fds.size(); ++f) {
                if (!(fds[f].revents & POLLIN)) {
                    continue;
                }
                const int fd = fds[f].fd;
                if (f % 2 == 1) {
                    while (::recv(fd, drain, sizeof drain, MSG_DONTWAIT) > 0) {
                        // TCP: only drained, so nobody counts as not reading
                    }
                    continue;
                }
                for (int m = 0; m < kBatch; ++m) {
                    iov[m] = {bufs[m], sizeof bufs[m]};
                    msgs[m].msg_hdr = {};
                    msgs[m].msg_hdr.msg_iov = &iov[m];
                    msgs[m].msg_hdr.msg_iovlen = 1;
                    msgs[m].msg_hdr.msg_control = controls[m];
                    msgs[m].msg_hdr.msg_controllen = sizeof controls[m];
                }
                const int got = ::recvmmsg(fd, msgs.data(), kBatch, MSG_DONTWAIT, nullptr);
                if (got == kBatch) {
                    --f; // more may be waiting: this socket again
                }
                for (int m = 0; m < got; ++m) {
                    const char* r = bufs[m];
                    if (msgs[m].msg_len != kRecordBytes || std::memcmp(r, positionHeader, 8) != 0) {
                        continue;
                    }
                    qint64 at = 0;
                    for (cmsghdr* c = CMSG_FIRSTHDR(&msgs[m].msg_hdr); c; c = CMSG_NXTHDR(&msgs[m].msg_hdr, c)) {
                        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                            timespec ts;
                            std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                            at = qint64{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
                        }
                    }
                    // The sender wrote its clock into the first bytes of the position block.
                    qint64 sentAt;
                    std::memcpy(&sentAt, r + stampAt, sizeof sentAt);
                    if (at != 0 && sentAt >= measureFrom.load(std::memory_order_relaxed) &&
                        sentAt < measureTo.load(std::memory_order_relaxed)) {
                        latencies.push_back(at - sentAt);
                        ++received;
                    }
                }
            }
        }
    });

    std::atomic<bool> measuring{false};
    std::vector<qint64> logonNs;
    std::mutex logonMutex;
    std::thread side([&] {
        if (extras.httpPoll) {
            while (!stop.load()) {
                const bool ok = httpGet(server.http, "/status.json") && httpGet(server.http, "/metrics");
                if (ok && measuring.load()) {
                    extrasOut.httpRequests += 2;
                }
            }
        } else if (extras.hashedLogonsPerSecond > 0) {
            // Each logon from an address of its own (127.0.1.x), on a thread of its own, so a slow
            // answer does not hold up the next; a rejection comes over UDP to the port that
            // address last sent from.
            const auto period = std::chrono::nanoseconds(1'000'000'000 / extras.hashedLogonsPerSecond);
            auto next = Clock::now();
            std::vector<std::thread> attempts;
            for (int k = 0; !stop.load(); ++k) {
                std::this_thread::sleep_until(next);
                next += period;
                attempts.emplace_back([&, k] { hashedLogon(server, k, measuring, logonMutex, logonNs, extrasOut); });
            }
            for (std::thread& t : attempts) {
                t.join();
            }
        }
    });

    // Sender: pilot i sends at i/n of each 100 ms period, so the load is spread evenly; the sends
    // due within each millisecond go out together, as pilots on many machines would send them.
    quint64 sent = 0, expected = 0;
    std::vector<QByteArray> blocks;
    for (int i = 0; i < n; ++i) {
        blocks.push_back(blockOf(i, groups));
    }
    const qint64 start = nowNs() + 50'000'000;
    const qint64 periodNs = 100'000'000;
    const qint64 endNs = start + static_cast<qint64>((warmup + seconds) * 1e9);
    long long cpuStart = 0, benchStart = 0, sysStart = 0;
    qint64 measureSteady = 0;
    for (qint64 tick = 0;;) {
        const qint64 slot = start + tick * periodNs / n;
        if (slot >= endNs) {
            break;
        }
        std::this_thread::sleep_until(Clock::time_point(std::chrono::nanoseconds(slot)));
        if (!measuring && slot >= start + static_cast<qint64>(warmup * 1e9)) {
            measuring = true;
            cpuStart = server.cpuTicks();
            sysStart = processSystemTicks(server.pid);
            benchStart = processCpuTicks(::getpid());
            measureSteady = nowNs();
            measureFrom = wallNs();
            measureTo = measureFrom + (endNs - measureSteady);
        }
        for (const qint64 due = nowNs() + 1'000'000; start + tick * periodNs / n < std::min(due, endNs); ++tick) {
            const auto i = static_cast<size_t>(tick % n);
            Pilot& p = pilots[i];
            QByteArray& block = blocks[i];
            const qint64 t = wallNs();
            std::memcpy(block.data(), &t, 8); // packet index and application time: not the position
            const QByteArray record = toServer::positionUpdate(p.session, block).toBytes();
            if (::send(p.udp, record.constData(), kRecordBytes, 0) == kRecordBytes && measuring) {
                ++sent;
                expected += static_cast<quint64>(audience[i]);
            }
        }
    }
    const long long cpuEnd = server.cpuTicks();
    const long long sysEnd = processSystemTicks(server.pid);
    const long long benchEnd = processCpuTicks(::getpid());
    const qint64 measuredNs = nowNs() - measureSteady;
    const long long rss = server.peakRssKiB();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the last ones arrive
    measuring = false;
    stop = true;
    receiver.join();
    side.join();
    if (!accounts.empty()) {
        ::unlink(accounts.c_str());
    }
    std::sort(logonNs.begin(), logonNs.end());
    if (!logonNs.empty()) {
        extrasOut.logonP50Ms = logonNs[logonNs.size() / 2] / 1e6;
        extrasOut.logonP99Ms = logonNs[static_cast<size_t>(0.99 * double(logonNs.size() - 1))] / 1e6;
        extrasOut.logonMaxMs = logonNs.back() / 1e6;
    }
    server.stop();
    // As many as the server delivered in a second, at most 200,000 (each socket holds its share).
    const int floorCount = static_cast<int>(std::clamp<quint64>(perRound * 10, 1000, 200'000));
    const double floorUs =
        bareSendUs(pilots, server.udp, std::max(1, static_cast<int>(perRound / pilots.size())), floorCount);
    for (Pilot& p : pilots) {
        ::close(p.tcp);
        ::close(p.udp);
    }

    Result r;
    r.pilots = n;
    r.sent = sent;
    r.expected = expected;
    r.rssKiB = rss;
    r.floorUs = floorUs;
    r.seconds = double(measuredNs) / 1e9;
    r.received = received;
    std::sort(latencies.begin(), latencies.end());
    const auto pct = [&](double q) {
        return latencies.empty() ? 0.0 : latencies[static_cast<size_t>(q * double(latencies.size() - 1))] / 1e6;
    };
    r.p50Ms = pct(0.50);
    r.p99Ms = pct(0.99);
    r.maxMs = latencies.empty() ? 0.0 : latencies.back() / 1e6;
    r.cpuCores = double(cpuEnd - cpuStart) / double(::sysconf(_SC_CLK_TCK)) / (double(measuredNs) / 1e9);
    r.systemCores = double(sysEnd - sysStart) / double(::sysconf(_SC_CLK_TCK)) / (double(measuredNs) / 1e9);
    r.benchCores = double(benchEnd - benchStart) / double(::sysconf(_SC_CLK_TCK)) / (double(measuredNs) / 1e9);
    return r;
}

std::string defaultServer(const char* argv0) {
    if (const char* env = std::getenv("AIRMESH_SERVER")) {
        return env;
    }
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv0);
    dir = dir.substr(0, dir.rfind('/'));
    return dir + "/../apps/airmesh-server/airmesh-server";
}

} // namespace

int main(int argc, char* argv[]) {
    ::signal(SIGPIPE, SIG_IGN);
    std::string server = defaultServer(argv[0]);
    double seconds = 10;
    std::vector<int> counts{8, 16, 32, 64};
    int groups = 0;
    double rangeNm = 0;
    Extras extras;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i], val = argv[i + 1];
        if (opt == "--server") {
            server = val;
        } else if (opt == "--seconds") {
            seconds = std::stod(val);
        } else if (opt == "--http-poll") {
            extras.httpPoll = val != "0";
        } else if (opt == "--hashed-logons") {
            extras.hashedLogonsPerSecond = std::stoi(val);
        } else if (opt == "--groups") {
            groups = std::stoi(val);
        } else if (opt == "--range-nm") {
            rangeNm = std::stod(val);
        } else if (opt == "--pilots") {
            counts.clear();
            std::stringstream ss(val);
            for (std::string item; std::getline(ss, item, ',');) {
                counts.push_back(std::stoi(item));
            }
        } else {
            std::fprintf(stderr,
                         "usage: %s [--server PATH] [--seconds S] [--pilots 8,16,32,64] [--groups G] [--range-nm N] "
                         "[--http-poll 1] [--hashed-logons PER_SECOND]\n",
                         argv[0]);
            return 2;
        }
    }
    std::printf(
        "server: %s, %.0f s per run, 10 positions/s per pilot, %s\n", server.c_str(), seconds,
        groups > 0 ? (std::to_string(groups) + " groups, range " + std::to_string(int(rangeNm)) + " nm").c_str()
                   : (rangeNm > 0 ? "range " + std::to_string(int(rangeNm)) + " nm, one place" : "all to all").c_str());
    std::printf("%7s %10s %12s %10s %8s %9s %9s %9s %12s %9s %9s %10s\n", "pilots", "sent", "received", "recv/s",
                "lost%", "p50 ms", "p99 ms", "max ms", "server CPU", "(kernel)", "RSS MiB", "bench CPU");
    for (const int n : counts) {
        if (n < 2) {
            continue;
        }
        ExtrasResult x;
        const Result r = run(server, n, seconds, groups, rangeNm, extras, x);
        const double lost =
            r.expected ? 100.0 * double(r.expected - std::min(r.expected, r.received)) / double(r.expected) : 0;
        std::printf("%7d %10llu %12llu %10.0f %8.3f %9.3f %9.3f %9.3f %11.1f%% %8.1f%% %9.1f %9.0f%%\n", r.pilots,
                    (unsigned long long)r.sent, (unsigned long long)r.received, double(r.received) / r.seconds, lost,
                    r.p50Ms, r.p99Ms, r.maxMs, 100.0 * r.cpuCores, 100.0 * r.systemCores, double(r.rssKiB) / 1024.0,
                    100.0 * r.benchCores);
        std::printf(
            "        floor: a bare sendmmsg loop to the same sockets costs %.2f us per datagram here, %.1f%% of "
            "one core at this row's rate\n",
            r.floorUs, r.floorUs * double(r.received) / r.seconds / 1e4);
        if (extras.httpPoll) {
            std::printf("        beside it: %.0f HTTP requests/s (/status.json and /metrics in turn)\n",
                        double(x.httpRequests) / r.seconds);
        }
        if (extras.hashedLogonsPerSecond > 0) {
            std::printf(
                "        beside it: %llu hashed logons accepted, %llu rejected (server busy), %llu unanswered in 5 s; "
                "accepted logon p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
                (unsigned long long)x.logons, (unsigned long long)x.logonRejected,
                (unsigned long long)x.logonUnanswered, x.logonP50Ms, x.logonP99Ms, x.logonMaxMs);
        }
        std::fflush(stdout);
    }
    return 0;
}
