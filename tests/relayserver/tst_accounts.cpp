#include "relayserver/accounts.h"
#include "relayserver/serveroptions.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace airmesh;

class TestAccounts : public QObject {
    Q_OBJECT
private slots:
    void goodFile();
    void badLines_data();
    void badLines();
    void fileLimits();
    void addPilotWritesAHashAndKeepsTheRest();
    void options_data();
    void options();
};

void TestAccounts::goodFile() {
    const Accounts::ParseResult r = Accounts::parse("# pilots of the club\r\n"
                                                    "\r\n"
                                                    "   100   111   Red Baron  \r\n"
                                                    "\t200\t-5\n"
                                                    "  # indented comment\n"
                                                    "-7 2147483647 Zo\xc3\xab"); // last line without newline
    QVERIFY2(r.errors.isEmpty(), qPrintable(r.errors.join(u"; ")));
    QCOMPARE(r.accounts.size(), 3);
    QCOMPARE(r.accounts.check(100, 111), (Account{100, 111, QStringLiteral("Red Baron"), {}}));
    QCOMPARE(r.accounts.check(200, -5), (Account{200, -5, {}, {}}));
    QCOMPARE(r.accounts.check(-7, 2147483647)->handle, QString::fromUtf8("Zo\xc3\xab"));
    QVERIFY(!r.accounts.check(100, 112));
    QVERIFY(!r.accounts.check(101, 111));
    QVERIFY(!r.accounts.isOpen());
    // Open mode takes any numbers.
    QCOMPARE(Accounts::open().check(5, -9), (Account{5, -9, {}, {}}));
}

void TestAccounts::addPilotWritesAHashAndKeepsTheRest() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pilots.txt"));
    const QByteArray before = "# the club\r\n1001 4711 Old Handle\r\n\n  # keep me\n1002 1234 Goose\n";
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    const auto perms = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    QVERIFY(QFile::setPermissions(path, perms));
    const auto read = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };

    // Pilot 1001 gets a hashed line in place of his plain one, his handle kept.
    QCOMPARE(Accounts::addPilot(path, 1001, 8642, std::nullopt), QString());
    QByteArray after = read();
    QVERIFY(after.startsWith("# the club\r\n1001 $argon2id$"));
    QVERIFY(after.endsWith(" Old Handle\r\n\n  # keep me\n1002 1234 Goose\n"));
    QVERIFY(!after.contains("8642"));
    QCOMPARE(QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), perms);
    Accounts::ParseResult r = Accounts::parse(after);
    QVERIFY2(r.errors.isEmpty(), qPrintable(r.errors.join(u"; ")));
    QCOMPARE(r.accounts.check(1001, 8642)->handle, QStringLiteral("Old Handle"));
    QVERIFY(!r.accounts.check(1001, 4711)); // the old password is gone
    QVERIFY(!r.accounts.check(1001, -8642));
    QCOMPARE(r.accounts.check(1002, 1234)->handle, QStringLiteral("Goose")); // plain lines still work
    QCOMPARE(r.accounts.plainPilotIds(), QList<qint32>{1002});

    // A new pilot is added at the end, with his handle; a new file is its owner's only.
    QCOMPARE(Accounts::addPilot(path, -7, 0, QStringLiteral("New Pilot")), QString());
    r = Accounts::parse(read());
    QCOMPARE(r.accounts.size(), 3);
    QCOMPARE(r.accounts.check(-7, 0)->handle, QStringLiteral("New Pilot"));
    QVERIFY(read().startsWith(after));
    const QString fresh = dir.filePath(QStringLiteral("new.txt"));
    QCOMPARE(Accounts::addPilot(fresh, 5, 55, std::nullopt), QString());
    QCOMPARE(QFile::permissions(fresh) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    // A file the server would refuse is left as it is; so is a mangled hash refused at start.
    QFile bad(dir.filePath(QStringLiteral("bad.txt")));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("1 1\n1 2\n");
    bad.close();
    QVERIFY(Accounts::addPilot(bad.fileName(), 3, 3, std::nullopt).contains(QStringLiteral("listed twice")));
    QVERIFY(!Accounts::parse("1 $argon2id$v=19$m=65536,t=2,p=1$bad\n").errors.isEmpty());
}

void TestAccounts::badLines_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("ID not a number") << QByteArray("1 1\nabc 111\n") << QStringLiteral("line 2: the pilot ID");
    QTest::newRow("ID too large") << QByteArray("2147483648 1") << QStringLiteral("line 1: the pilot ID");
    QTest::newRow("password missing") << QByteArray("100\n") << QStringLiteral("line 1: the password");
    QTest::newRow("password with letters") << QByteArray("100 12ab") << QStringLiteral("line 1: the password");
    QTest::newRow("handle of 21 characters")
        << QByteArray("1 1 abcdefghijklmnopqrstu") << QStringLiteral("longer than 20");
    QTest::newRow("control character") << QByteArray("1 1 a\x01z") << QStringLiteral("control character");
    QTest::newRow("listed twice") << QByteArray("1 1\n1 2\n") << QStringLiteral("line 2: pilot 1 is listed twice");
}

void TestAccounts::badLines() {
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    const Accounts::ParseResult r = Accounts::parse(text);
    QCOMPARE(r.errors.size(), 1);
    QVERIFY2(r.errors.first().contains(error), qPrintable(r.errors.first()));
}

void TestAccounts::fileLimits() {
    QTemporaryDir dir;
    QVERIFY(!Accounts::load(dir.filePath(QStringLiteral("missing.txt"))).errors.isEmpty());
    QFile big(dir.filePath(QStringLiteral("big.txt")));
    QVERIFY(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(Accounts::kMaxFileBytes + 1, '#'));
    big.close();
    const Accounts::ParseResult r = Accounts::load(big.fileName());
    QCOMPARE(r.errors.size(), 1);
    QVERIFY(r.errors.first().contains(QStringLiteral("larger than")));
    QFile good(dir.filePath(QStringLiteral("good.txt")));
    QVERIFY(good.open(QIODevice::WriteOnly));
    good.write("42 4242 Answer\n");
    good.close();
    QCOMPARE(Accounts::load(good.fileName()).accounts.check(42, 4242)->handle, QStringLiteral("Answer"));
}

void TestAccounts::options_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode"); // -1: parsed
    QTest::newRow("defaults, open") << QStringList{QStringLiteral("--open")} << -1;
    QTest::newRow("everything") << QStringList{QStringLiteral("--accounts"),        QStringLiteral("a.txt"),
                                               QStringLiteral("--udp-port"),        QStringLiteral("0"),
                                               QStringLiteral("--tcp-port"),        QStringLiteral("2502"),
                                               QStringLiteral("--listen"),          QStringLiteral("127.0.0.1"),
                                               QStringLiteral("--greeting"),        QStringLiteral("Hi"),
                                               QStringLiteral("--max-pilots"),      QStringLiteral("8"),
                                               QStringLiteral("--silence-timeout"), QStringLiteral("5"),
                                               QStringLiteral("--client-udp-port"), QStringLiteral("1601"),
                                               QStringLiteral("--max-queue-kib"),   QStringLiteral("16"),
                                               QStringLiteral("--logon-failures"),  QStringLiteral("0"),
                                               QStringLiteral("--logon-block"),     QStringLiteral("30")}
                                << -1;
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0;
    QTest::newRow("neither accounts nor open") << QStringList{} << 2;
    QTest::newRow("both") << QStringList{QStringLiteral("--open"), QStringLiteral("--accounts"), QStringLiteral("x")}
                          << 2;
    QTest::newRow("port too large") << QStringList{QStringLiteral("--open"), QStringLiteral("--udp-port"),
                                                   QStringLiteral("65536")}
                                    << 2;
    QTest::newRow("client port 0") << QStringList{QStringLiteral("--open"), QStringLiteral("--client-udp-port"),
                                                  QStringLiteral("0")}
                                   << 2;
    QTest::newRow("bad address") << QStringList{QStringLiteral("--open"), QStringLiteral("--listen"),
                                                QStringLiteral("example.org")}
                                 << 2;
    QTest::newRow("greeting of 41 characters")
        << QStringList{QStringLiteral("--open"), QStringLiteral("--greeting"), QString(41, u'g')} << 2;
    QTest::newRow("zero pilots") << QStringList{QStringLiteral("--open"), QStringLiteral("--max-pilots"),
                                                QStringLiteral("0")}
                                 << 2;
    QTest::newRow("negative logon failures")
        << QStringList{QStringLiteral("--open"), QStringLiteral("--logon-failures"), QStringLiteral("-1")} << 2;
    QTest::newRow("stray argument") << QStringList{QStringLiteral("--open"), QStringLiteral("extra")} << 2;
}

void TestAccounts::options() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    args.prepend(QStringLiteral("airmesh-server"));
    const ParsedServerOptions p = parseServerOptions(args);
    if (exitCode >= 0) {
        QVERIFY(!p.options);
        QCOMPARE(p.exitCode, exitCode);
        QVERIFY(!p.message.isEmpty());
        return;
    }
    QVERIFY2(p.options, qPrintable(p.message));
    const ServerOptions& o = *p.options;
    if (args.size() == 2) {
        QVERIFY(o.openMode);
        QCOMPARE(o.config.udpPort, 1500);
        QCOMPARE(o.config.tcpPort, 1502);
        QCOMPARE(o.config.listenAddress, QHostAddress(QHostAddress::Any));
        QCOMPARE(o.config.limits.defaultClientUdpPort, 1501);
        QCOMPARE(o.config.limits.silenceSeconds, 60);
        QCOMPARE(o.config.limits.logonGuard.maxFailures, 5);
        QCOMPARE(o.config.limits.logonGuard.firstBlockSeconds, 60);
        return;
    }
    QVERIFY(!o.openMode);
    QCOMPARE(o.accountsPath, QStringLiteral("a.txt"));
    QCOMPARE(o.config.udpPort, 0);
    QCOMPARE(o.config.tcpPort, 2502);
    QCOMPARE(o.config.listenAddress, QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(o.config.limits.greeting, QStringLiteral("Hi"));
    QCOMPARE(o.config.limits.maxPilots, 8);
    QCOMPARE(o.config.limits.silenceSeconds, 5);
    QCOMPARE(o.config.limits.defaultClientUdpPort, 1601);
    QCOMPARE(o.config.maxQueuedBytes, 16 * 1024);
    QCOMPARE(o.config.limits.logonGuard.maxFailures, 0);
    QCOMPARE(o.config.limits.logonGuard.firstBlockSeconds, 30);
}

QTEST_GUILESS_MAIN(TestAccounts)
#include "tst_accounts.moc"
