// Logon guessing benchmark: one script on one address tries passwords against the built
// airmesh-server as fast as the server answers, opening a new connection whenever the server
// closes one (after 5 rejections), first with the per-address limit off (--logon-failures 0,
// the server as it was) and then with its defaults. Reports per run the logons answered, the
// guesses the server actually checked (its summary's "rejected"), those refused unchecked, and
// the log lines written, each per second; and what the checked rate means for a password of 8
// digits.
//
//   bench_logonguess [--server PATH] [--seconds S]
// The server is found by --server, else $AIRMESH_SERVER, else ../apps/airmesh-server/ next to
// this program in the build tree.
#include "wire/records.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace airmesh;
using namespace airmesh::wire;
using Clock = std::chrono::steady_clock;

namespace {

constexpr qint32 kPilotId = 1001;
constexpr int kPerConnection = 5; // the server closes a connection after this many rejections

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "bench_logonguess: %s (%s)\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

sockaddr_in loopback(quint16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

struct ServerProcess {
    pid_t pid = -1;
    int out = -1;
    quint16 udp = 0, tcp = 0;
    std::thread drain;
    std::atomic<long> lines{0};
    std::string tail; // the output after the start-up line, for the summary

    void start(const std::string& binary, const std::string& accounts, const char* failures) {
        int fds[2];
        if (::pipe(fds) != 0) {
            die("pipe");
        }
        pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], 1);
            ::close(fds[0]);
            ::execl(binary.c_str(), binary.c_str(), "--accounts", accounts.c_str(), "--listen", "127.0.0.1",
                    "--udp-port", "0", "--tcp-port", "0", "--logon-failures", failures, static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        ::close(fds[1]);
        out = fds[0];
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
        // Counts the log lines; keeps the last few kilobytes for the summary at exit.
        drain = std::thread([this] {
            char buf[4096];
            ssize_t n;
            while ((n = ::read(out, buf, sizeof buf)) > 0) {
                for (ssize_t i = 0; i < n; ++i) {
                    lines += buf[i] == '\n';
                }
                tail.append(buf, static_cast<size_t>(n));
                if (tail.size() > 16384) {
                    tail.erase(0, tail.size() - 8192);
                }
            }
        });
    }
    void stop() {
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        drain.join();
        ::close(out);
    }
    // A number after `label` in the summary printed at exit.
    unsigned long long summary(const char* label) const {
        const auto s = tail.rfind("summary:");
        const auto at = s == std::string::npos ? s : tail.find(label, s);
        return at == std::string::npos ? 0 : std::strtoull(tail.c_str() + at + std::strlen(label), nullptr, 10);
    }
};

struct Result {
    double seconds = 0;
    unsigned long long answered = 0, checked = 0, refused = 0, connections = 0;
    long logLines = 0;
};

Result run(const std::string& binary, const std::string& accounts, const char* failures, double seconds) {
    ServerProcess server;
    server.start(binary, accounts, failures);
    const long startLines = server.lines;

    // Rejections come over UDP to the port last seen from our address: show it ours.
    const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in any = loopback(0);
    ::bind(udp, reinterpret_cast<const sockaddr*>(&any), sizeof any);
    const sockaddr_in udpTo = loopback(server.udp);
    ::connect(udp, reinterpret_cast<const sockaddr*>(&udpTo), sizeof udpTo);
    const QByteArray hello = toServer::heartBeat(0).toBytes();
    ::send(udp, hello.constData(), kRecordBytes, 0);

    Result r;
    qint32 guess = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        const int tcp = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in tcpTo = loopback(server.tcp);
        if (::connect(tcp, reinterpret_cast<const sockaddr*>(&tcpTo), sizeof tcpTo) != 0) {
            die("connect");
        }
        ++r.connections;
        QByteArray batch;
        for (int i = 0; i < kPerConnection; ++i) {
            batch += toServer::logonRequest(kPilotId, guess++, QStringLiteral("Guess")).toBytes();
        }
        if (::write(tcp, batch.constData(), static_cast<size_t>(batch.size())) != batch.size()) {
            die("write");
        }
        for (int got = 0; got < kPerConnection;) {
            pollfd pfd{udp, POLLIN, 0};
            if (::poll(&pfd, 1, 1000) <= 0) {
                break; // an answer lost: go on with a new connection
            }
            char buf[kRecordBytes + 1];
            if (::recv(udp, buf, sizeof buf, 0) == kRecordBytes &&
                ServerRecord::fromBytes(QByteArray(buf, kRecordBytes)).type() == RecordType::LogonRejected) {
                ++got;
                ++r.answered;
            }
        }
        // Closed at once, without TIME_WAIT: thousands of connections a second would use up the ports.
        const linger hard{1, 0};
        ::setsockopt(tcp, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(tcp);
    }
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(udp);
    server.stop();
    r.checked = server.summary("rejected ");
    r.refused = server.summary("blocked logons ");
    r.logLines = server.lines - startLines - 1; // less the summary
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

std::string duration(double seconds) {
    char buf[64];
    if (seconds < 3600 * 48) {
        std::snprintf(buf, sizeof buf, "%.1f hours", seconds / 3600);
    } else {
        std::snprintf(buf, sizeof buf, "%.0f years", seconds / (3600 * 24 * 365.25));
    }
    return buf;
}

} // namespace

int main(int argc, char* argv[]) {
    ::signal(SIGPIPE, SIG_IGN);
    std::string server = defaultServer(argv[0]);
    double seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i], val = argv[i + 1];
        if (opt == "--server") {
            server = val;
        } else if (opt == "--seconds") {
            seconds = std::stod(val);
        } else {
            std::fprintf(stderr, "usage: %s [--server PATH] [--seconds S]\n", argv[0]);
            return 2;
        }
    }
    char folder[] = "/tmp/bench_logonguess.XXXXXX";
    if (!::mkdtemp(folder)) {
        die("mkdtemp");
    }
    const std::string accounts = std::string(folder) + "/pilots.txt";
    if (FILE* f = std::fopen(accounts.c_str(), "w")) {
        std::fprintf(f, "%d 87654321 Target\n", kPilotId);
        std::fclose(f);
    } else {
        die("accounts file");
    }

    std::printf("server: %s, one address guessing for %.0f s per run, %d logons per connection\n", server.c_str(),
                seconds, kPerConnection);
    std::printf("%-22s %12s %12s %12s %12s %12s %s\n", "limit", "answered/s", "checked/s", "refused/s", "conns/s",
                "log lines/s", "8 digits searched in");
    const struct {
        const char* name;
        const char* failures;
    } runs[] = {{"off (as before)", "0"}, {"5 a minute (default)", "5"}};
    for (const auto& run : runs) {
        const Result r = ::run(server, accounts, run.failures, seconds);
        // Off: the measured rate. On: the blocks double to an hour, so in the long run 5 checked
        // guesses an hour.
        const double perSecond = run.failures[0] == '0' ? double(r.checked) / r.seconds : 5.0 / 3600;
        std::printf("%-22s %12.0f %12.1f %12.0f %12.0f %12.1f %s\n", run.name, double(r.answered) / r.seconds,
                    double(r.checked) / r.seconds, double(r.refused) / r.seconds, double(r.connections) / r.seconds,
                    double(r.logLines) / r.seconds, duration(1e8 / perSecond).c_str());
        std::fflush(stdout);
    }
    std::remove(accounts.c_str());
    ::rmdir(folder);
    return 0;
}
