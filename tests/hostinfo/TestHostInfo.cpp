#include "Errors.h"
#include "HostEnvironment.h"
#include "HostInfo.h"
#include "IPWatch.h"
#include "LocalAddress.h"
#include "VersionInfo.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

Q_DECLARE_METATYPE(QList<TLocalAdapter>)

namespace {

TLocalAdapter Adapter(const QString& Name, QList<TLocalUnicastAddress> Addresses) {
    TLocalAdapter a;
    a.Name = Name;
    a.Addresses = std::move(Addresses);
    return a;
}

TLocalUnicastAddress Preferred(const char* Text) {
    return {QHostAddress(QString(Text)), true};
}
TLocalUnicastAddress NotPreferred(const char* Text) {
    return {QHostAddress(QString(Text)), false};
}

// Sets or clears environment variables for one test and puts them back afterwards.
class TEnvironment {
public:
    ~TEnvironment() {
        for (auto it = FSaved.cbegin(); it != FSaved.cend(); ++it) {
            if (it.value())
                qputenv(it.key(), *it.value());
            else
                qunsetenv(it.key());
        }
    }
    void Set(const char* Name, const std::optional<QByteArray>& Value) {
        if (!FSaved.contains(Name))
            FSaved.insert(Name, qEnvironmentVariableIsSet(Name)
                                    ? std::optional<QByteArray>(qgetenv(Name))
                                    : std::nullopt);
        if (Value)
            qputenv(Name, *Value);
        else
            qunsetenv(Name);
    }

private:
    QMap<const char*, std::optional<QByteArray>> FSaved;
};

} // namespace

class TestHostInfo : public QObject {
    Q_OBJECT

private slots:
    void localAddressRule_data();
    void localAddressRule();
    void localAddressQuery();
    void noAddressHistory();
    void commonDocumentsFolder_data();
    void commonDocumentsFolder();
    void otherFoldersAreEmpty();
    void shortComputerName_data();
    void shortComputerName();
    void computerNameOfThisHost();
    void fileVersionText_data();
    void fileVersionText();
    void versionOfTheRunningProgram();
    void brokenElfFiles_data();
    void brokenElfFiles();
};

void TestHostInfo::localAddressRule_data() {
    QTest::addColumn<QList<TLocalAdapter>>("Adapters");
    QTest::addColumn<QString>("Expected");

    TLocalAdapter Loopback = Adapter("lo", {Preferred("127.0.0.1"), Preferred("::1")});
    Loopback.Loopback = true;
    const TLocalAdapter Lan = Adapter("eth0", {Preferred("fe80::1"), Preferred("192.168.1.20")});
    const TLocalAdapter Wifi = Adapter("wlan0", {Preferred("10.0.0.7")});

    QTest::newRow("no adapters") << QList<TLocalAdapter>{} << "";
    QTest::newRow("loopback only") << QList{Loopback} << "";
    QTest::newRow("IPv6 only") << QList{Loopback, Adapter("eth0", {Preferred("fe80::1"),
                                                                   Preferred("2001:db8::5")})}
                               << "";
    QTest::newRow("two adapters: the first in system order wins")
        << QList{Loopback, Wifi, Lan} << "10.0.0.7";
    QTest::newRow("IPv4 after IPv6 on one adapter") << QList{Loopback, Lan} << "192.168.1.20";
    QTest::newRow("an address not yet preferred is passed over")
        << QList{Adapter("eth0", {NotPreferred("192.168.1.99"), Preferred("192.168.1.20")})}
        << "192.168.1.20";
    QTest::newRow("an adapter with no preferred address is passed over")
        << QList{Adapter("eth0", {NotPreferred("192.168.1.99")}), Wifi} << "10.0.0.7";

    TLocalAdapter Down = Wifi;
    Down.Up = false;
    QTest::newRow("a down adapter is skipped") << QList{Down, Lan} << "192.168.1.20";
    TLocalAdapter ReceiveOnly = Wifi;
    ReceiveOnly.ReceiveOnly = true;
    QTest::newRow("a receive-only adapter is skipped") << QList{ReceiveOnly, Lan} << "192.168.1.20";
    QTest::newRow("loopback address on a loopback adapter after a real one")
        << QList{Lan, Loopback} << "192.168.1.20";
}

void TestHostInfo::localAddressRule() {
    QFETCH(QList<TLocalAdapter>, Adapters);
    QFETCH(QString, Expected);
    QCOMPARE(PickLocalIPv4Address(Adapters), Expected);
}

// Whatever this machine has, the query's answer is the rule's answer over its adapters,
// and never a loopback address.
void TestHostInfo::localAddressQuery() {
    const QString Address = GetLocalIPAddress();
    QCOMPARE(Address, PickLocalIPv4Address(QueryLocalAdapters()));
    QVERIFY(!Address.startsWith("127."));
    if (!Address.isEmpty())
        QCOMPARE(QHostAddress(Address).protocol(), QAbstractSocket::IPv4Protocol);
}

void TestHostInfo::noAddressHistory() {
    QTemporaryDir Dir;
    QVERIFY(Dir.isValid());
    const QString Previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(Dir.path()));
    GetLocalIPAddress();
    {
        TIPWatch Watch; // even one that was asked to keep a history
        Watch.SetHistoryEnabled(true);
        Watch.LocalIP();
    }
    const bool Written = QFile::exists("iphist.dat");
    QVERIFY(QDir::setCurrent(Previous));
    QVERIFY(!Written);
}

void TestHostInfo::commonDocumentsFolder_data() {
    using TValue = std::optional<QByteArray>;
    QTest::addColumn<TValue>("StateHome");
    QTest::addColumn<TValue>("Home");
    QTest::addColumn<QString>("Expected");

    QTest::newRow("state home wins") << TValue("/srv/state") << TValue("/home/ann") << "/srv/state";
    QTest::newRow("home's state folder")
        << TValue() << TValue("/home/ann") << "/home/ann/.local/state";
    QTest::newRow("empty state home counts as unset")
        << TValue("") << TValue("/home/ann") << "/home/ann/.local/state";
    QTest::newRow("relative state home is ignored")
        << TValue("state") << TValue("/home/ann") << "/home/ann/.local/state";
    QTest::newRow("home with a trailing slash")
        << TValue() << TValue("/home/ann/") << "/home/ann/.local/state";
    QTest::newRow("root as home") << TValue() << TValue("/") << "/.local/state";
    QTest::newRow("neither set") << TValue() << TValue() << "";
    QTest::newRow("relative home only") << TValue() << TValue("ann") << "";
}

void TestHostInfo::commonDocumentsFolder() {
    QFETCH(std::optional<QByteArray>, StateHome);
    QFETCH(std::optional<QByteArray>, Home);
    QFETCH(QString, Expected);

    QTemporaryDir Dir;
    QVERIFY(Dir.isValid());
    TEnvironment Environment;
    Environment.Set("XDG_STATE_HOME", StateHome);
    Environment.Set("HOME", Home);
    QCOMPARE(GetCommonDocumentsFolder(), Expected);
    QCOMPARE(GetSpecialFolder(46), Expected);

    // Asking never creates the folder.
    const QByteArray Missing = Dir.path().toLocal8Bit() + "/not/there";
    Environment.Set("XDG_STATE_HOME", Missing);
    QCOMPARE(GetCommonDocumentsFolder(), QString::fromLocal8Bit(Missing));
    QVERIFY(!QFileInfo::exists(QString::fromLocal8Bit(Missing)));
}

void TestHostInfo::otherFoldersAreEmpty() {
    TEnvironment Environment;
    Environment.Set("XDG_STATE_HOME", QByteArray("/srv/state"));
    for (int Folder : {0, 5, 35, 45, 47, -1})
        QCOMPARE(GetSpecialFolder(Folder), QString());
}

void TestHostInfo::shortComputerName_data() {
    QTest::addColumn<QString>("HostName");
    QTest::addColumn<QString>("Expected");

    QTest::newRow("short name") << "SRV-ONE"
                                << "SRV-ONE";
    QTest::newRow("case unchanged") << "MixedCase"
                                    << "MixedCase";
    QTest::newRow("domain cut off") << "build7.lab.example.com"
                                    << "build7";
    QTest::newRow("exactly 15") << "ABCDEFGHIJKLMNO"
                                << "ABCDEFGHIJKLMNO";
    QTest::newRow("long DNS name becomes 15 characters") << "workstation-accounting-2.example.com"
                                                         << "workstation-acc";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("leading point") << ".local"
                                   << "";
    QTest::newRow("the kernel's placeholder for no name") << "(none)"
                                                          << "";
    QTest::newRow("surrogate pair not split")
        << QString("ABCDEFGHIJKLMN") + QString::fromUtf8("\U0001F600") << "ABCDEFGHIJKLMN";
}

void TestHostInfo::shortComputerName() {
    QFETCH(QString, HostName);
    QFETCH(QString, Expected);
    QCOMPARE(ShortComputerName(HostName), Expected);
}

void TestHostInfo::computerNameOfThisHost() {
    const QString Name = THostEnvironment().ComputerName();
    QCOMPARE(Name, ShortComputerName(QSysInfo::machineHostName()));
    QVERIFY(Name.size() <= 15);
}

void TestHostInfo::fileVersionText_data() {
    QTest::addColumn<QString>("FileName");
    QTest::addColumn<QString>("Expected");

    QTest::newRow("the aloha tool") << ALOHA_BINARY << "5.2.0";
    QTest::newRow("the running program by name")
        << QCoreApplication::applicationFilePath() << "5.2.0";
    QTest::newRow("the running program by empty name") << ""
                                                       << "5.2.0";
    QTest::newRow("a text file") << "/etc/hostname"
                                 << "0.0.0";
    QTest::newRow("an ELF file without the note") << "/bin/true"
                                                  << "0.0.0";
    QTest::newRow("a missing file") << "/nonexistent/lanfinder"
                                    << "0.0.0";
    QTest::newRow("a folder") << "/etc"
                              << "0.0.0";
}

void TestHostInfo::fileVersionText() {
    QFETCH(QString, FileName);
    QFETCH(QString, Expected);
    if (FileName == "/etc/hostname" && !QFile::exists(FileName))
        QSKIP("this host has no /etc/hostname");
    QCOMPARE(GetFileVersionText(FileName), Expected);
}

void TestHostInfo::versionOfTheRunningProgram() {
    TVersionInfo Info;
    QCOMPARE(Info.FilePath(), QString());
    QCOMPARE(Info.MajorVersion(), 5);
    QCOMPARE(Info.MinorVersion(), 2);
    QCOMPARE(Info.Release(), 0);
    QCOMPARE(Info.Build(), 0);
    Info.SetFilePath("/nonexistent/lanfinder");
    QCOMPARE(Info.MajorVersion(), 0);
    // Back to the running program's record.
    Info.SetFilePath("");
    QCOMPARE(Info.MajorVersion(), 5);
}

// Truncated and corrupted copies of a real program: never a crash, never a made-up version.
void TestHostInfo::brokenElfFiles_data() {
    QTest::addColumn<int>("Cut");
    QTest::addColumn<QByteArray>("Header");
    QTest::addColumn<QString>("Expected");

    QTest::newRow("only the magic") << 4 << QByteArray() << "0.0.0";
    QTest::newRow("cut inside the header") << 40 << QByteArray() << "0.0.0";
    QTest::newRow("cut after the header") << 64 << QByteArray() << "0.0.0";
    // The section table is gone, but the note segment at the front is still whole.
    QTest::newRow("cut after 4 KiB: found through the segments") << 4096 << QByteArray() << "5.2.0";
    QTest::newRow("unknown class") << -1
                                   << QByteArray("\x7f"
                                                 "ELF\x03\x01")
                                   << "0.0.0";
    QTest::newRow("unknown byte order") << -1
                                        << QByteArray("\x7f"
                                                      "ELF\x02\x07")
                                        << "0.0.0";
    QTest::newRow("section table far beyond the end: found through the segments")
        << -1
        << QByteArray("\x7f"
                      "ELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                      "\x02\x00\x3e\x00\x01\x00\x00\x00"
                      "\x00\x00\x00\x00\x00\x00\x00\x00"
                      "\x40\x00\x00\x00\x00\x00\x00\x00"
                      "\xff\xff\xff\xff\xff\xff\xff\x7f",
                      48)
        << "5.2.0";
    QTest::newRow("no section table, segments beyond the end")
        << -1
        << QByteArray("\x7f"
                      "ELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                      "\x02\x00\x3e\x00\x01\x00\x00\x00"
                      "\x00\x00\x00\x00\x00\x00\x00\x00"
                      "\x00\x00\x00\x00\x00\x00\x01\x00"
                      "\x00\x00\x00\x00\x00\x00\x00\x00",
                      48)
        << "0.0.0";
}

void TestHostInfo::brokenElfFiles() {
    QFETCH(int, Cut);
    QFETCH(QByteArray, Header);
    QFETCH(QString, Expected);
    QFile Program(ALOHA_BINARY);
    QVERIFY(Program.open(QIODevice::ReadOnly));
    QByteArray Bytes = Program.readAll();
    if (Cut >= 0)
        Bytes.truncate(Cut);
    else
        Bytes.replace(0, Header.size(), Header);

    QTemporaryDir Dir;
    QVERIFY(Dir.isValid());
    QFile Copy(Dir.filePath("broken"));
    QVERIFY(Copy.open(QIODevice::WriteOnly));
    QCOMPARE(Copy.write(Bytes), Bytes.size());
    Copy.close();
    QCOMPARE(GetFileVersionText(Copy.fileName()), Expected);
}

QTEST_GUILESS_MAIN(TestHostInfo)
#include "TestHostInfo.moc"
