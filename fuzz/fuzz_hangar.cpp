// Aircraft files and remote titles: any bytes as an aircraft.cfg scan without harm and give
// only titles the file holds; the matcher's index over what was read, and over the input's
// lines as titles, answers any title with an installed title or the title itself, and the
// same answer twice.
#include "hangar/hangar.h"
#include "hangar/hangarscan.h"
#include "hangar/matcher.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

using namespace airmesh;

namespace {

class NullStatus : public StatusSink {
public:
    void setStatus(const QString&) override {}
};

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    static const bool made = QDir().mkpath(dir.path() + "/aircraft/x");
    check(made);
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    {
        QFile f(dir.path() + "/aircraft/x/aircraft.cfg");
        check(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
    }
    Hangar scanned;
    NullStatus status;
    LoadHangar(dir.path() + "/", scanned, status);

    // The input's lines as installed titles too, with made-up classes.
    Hangar lines;
    int n = 0;
    for (const QByteArray& line : bytes.split('\n')) {
        const auto a = lines.Add(QString::fromUtf8(line));
        a->EngineType = n % 6 - 1;
        a->EngineCount = n % 5;
        a->WingSpan = n * 17 % 230;
        a->Category = n % 3 == 0 ? "helicopter" : "airplane";
        ++n;
    }
    for (const Hangar* h : {&scanned, &lines}) {
        const Matcher m(*h);
        for (const QByteArray& line : bytes.split('\n')) {
            const QString title = QString::fromUtf8(line);
            for (const int engine : {-1, 0, 1, 2, 3, 5}) {
                const Matcher::Match a = m.match(title, engine);
                check(a.index < h->Count());
                check(a.index < 0 ? a.title == title : a.title == h->Item(a.index + 1)->Title);
                const Matcher::Match b = m.match(title, engine);
                check(a.index == b.index && a.score == b.score && a.reason == b.reason);
            }
        }
    }
    return 0;
}
