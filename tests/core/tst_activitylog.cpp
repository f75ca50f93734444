#include "core/activitylog.h"
#include "core/clock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace airmesh;

namespace {

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

} // namespace

class TestActivityLog : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir->path()));
    }

    void cleanup() {
        QDir::setCurrent(m_oldCwd);
        m_dir.reset();
    }

    void appendsLinesInWorkingFolder() {
        QFile existing(m_dir->filePath(QStringLiteral("log.txt")));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("earlier run\r\n");
        existing.close();

        ManualClock clock(QDateTime(QDate(2026, 3, 4), QTime(9, 5, 3, 100)));
        const ActivityLog log(clock);
        log.line(QStringLiteral(u" - Your Handle in the game is Émile €"));
        clock.advanceMs(800); // same second, same time
        log.line(QStringLiteral(" - Disconnected from Server"));
        QCOMPARE(bytesOf(m_dir->filePath(QStringLiteral("log.txt"))),
                 QByteArray("earlier run\r\n"
                            "09:05:03 - Your Handle in the game is \xC9mile \x80\r\n"
                            "09:05:03 - Disconnected from Server\r\n"));

        // The name is resolved at each line, so a new working folder gets the next line.
        QVERIFY(QDir().mkdir(QStringLiteral("elsewhere")));
        QVERIFY(QDir::setCurrent(m_dir->filePath(QStringLiteral("elsewhere"))));
        clock.advance(1);
        log.line(QStringLiteral(" - Query Plane"));
        QCOMPARE(bytesOf(m_dir->filePath(QStringLiteral("elsewhere/log.txt"))),
                 QByteArray("09:05:04 - Query Plane\r\n"));
    }

    void noHandleKeptBetweenLines() {
        const ManualClock clock;
        const ActivityLog log(clock);
        const QString path = m_dir->filePath(QStringLiteral("log.txt"));
        log.Write_Log(QStringLiteral("one"));
        QVERIFY(QFile::remove(path));
        log.Write_Log(QStringLiteral("two"));
        QCOMPARE(bytesOf(path), QByteArray("two\r\n"));
        QVERIFY(QFile::rename(path, m_dir->filePath(QStringLiteral("log.old"))));
        log.Write_Log(QStringLiteral("three"));
        QCOMPARE(bytesOf(path), QByteArray("three\r\n"));
        QCOMPARE(bytesOf(m_dir->filePath(QStringLiteral("log.old"))), QByteArray("two\r\n"));
    }

    void lineBreaksInTextCannotForgeLines() {
        const ManualClock clock;
        const ActivityLog log(clock);
        // A chat piece from another pilot carrying a line break and a fake log line.
        log.line(QStringLiteral(" - Chat Bob hi\r\n12:00:00 - Server accepted Logon Credentials"));
        QCOMPARE(bytesOf(m_dir->filePath(QStringLiteral("log.txt"))),
                 QByteArray("12:00:00 - Chat Bob hi  12:00:00 - Server accepted Logon Credentials\r\n"));
    }

    void unwritableLogLosesLineQuietly() {
        const ManualClock clock;
        const ActivityLog log(clock);
        QVERIFY(QDir().mkdir(QStringLiteral("log.txt")));
        log.line(QStringLiteral(" - Disconnected from Server")); // must neither throw nor crash
        QVERIFY(QDir(QStringLiteral("log.txt")).isEmpty());
        QVERIFY(QDir().rmdir(QStringLiteral("log.txt")));
        log.line(QStringLiteral(" - Query Plane"));
        QCOMPARE(bytesOf(m_dir->filePath(QStringLiteral("log.txt"))), QByteArray("12:00:00 - Query Plane\r\n"));
    }

    void logTime_data() {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("expected");
        QTest::newRow("midnight") << QTime(0, 0, 0) << "00:00:00";
        QTest::newRow("single digits padded") << QTime(9, 5, 3) << "09:05:03";
        QTest::newRow("afternoon, 24-hour") << QTime(14, 3, 59) << "14:03:59";
        QTest::newRow("milliseconds dropped, not rounded") << QTime(23, 59, 59, 999) << "23:59:59";
    }

    void logTime() {
        QFETCH(QTime, time);
        QFETCH(QString, expected);
        QCOMPARE(airmesh::logTime(QDateTime(QDate(2026, 6, 1), time)), expected);
    }

    void secondsSince_data() {
        QTest::addColumn<QDateTime>("then");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("boundary crossed by 100 ms")
            << utc(2026, 1, 1, 12, 0, 0, 900) << utc(2026, 1, 1, 12, 0, 1, 0) << qint64(1);
        QTest::newRow("999 ms within one second")
            << utc(2026, 1, 1, 12, 0, 0, 0) << utc(2026, 1, 1, 12, 0, 0, 999) << qint64(0);
        QTest::newRow("just over one second, two boundaries")
            << utc(2026, 1, 1, 12, 0, 0, 999) << utc(2026, 1, 1, 12, 0, 2, 0) << qint64(2);
        QTest::newRow("same instant") << utc(2026, 1, 1, 12, 0, 0, 500) << utc(2026, 1, 1, 12, 0, 0, 500) << qint64(0);
        QTest::newRow("clock set back") << utc(2026, 1, 1, 12, 0, 1, 0) << utc(2026, 1, 1, 12, 0, 0, 900) << qint64(-1);
        QTest::newRow("across midnight") << utc(2025, 12, 31, 23, 59, 59, 500) << utc(2026, 1, 1, 0, 0, 0, 100)
                                         << qint64(1);
        QTest::newRow("across the epoch")
            << utc(1969, 12, 31, 23, 59, 58, 900) << utc(1970, 1, 1, 0, 0, 0, 100) << qint64(2);
        QTest::newRow("an hour") << utc(2026, 1, 1, 10, 0, 0, 500) << utc(2026, 1, 1, 11, 0, 0, 400) << qint64(3600);
    }

    void secondsSince() {
        QFETCH(QDateTime, then);
        QFETCH(QDateTime, now);
        QFETCH(qint64, expected);
        QCOMPARE(airmesh::secondsSince(then, now), expected);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldCwd;
};

QTEST_GUILESS_MAIN(TestActivityLog)
#include "tst_activitylog.moc"
