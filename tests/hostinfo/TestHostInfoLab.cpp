// The host queries on a network whose adapters are known: run only inside the lab, whose
// namespace this test may rearrange freely (it is thrown away afterwards).
#include "HostEnvironment.h"
#include "HostInfo.h"

#include <QProcess>
#include <QTest>

#include <sched.h>
#include <unistd.h>

namespace {

bool Ip(const QStringList& Arguments, QByteArray* Output = nullptr, bool Quiet = false) {
    QProcess Process;
    Process.start("ip", Arguments);
    if (!Process.waitForFinished(10000) || Process.exitStatus() != QProcess::NormalExit ||
        Process.exitCode() != 0) {
        if (!Quiet)
            qWarning("ip %s: %s", qPrintable(Arguments.join(' ')),
                     Process.readAllStandardError().constData());
        return false;
    }
    if (Output)
        *Output = Process.readAllStandardOutput();
    return true;
}

} // namespace

class TestHostInfoLab : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void localAddress();
    void deprecatedAddressIsPassedOver();
    void downAdapterIsSkipped();
    void computerNameOfALongHostName_data();
    void computerNameOfALongHostName();
};

void TestHostInfoLab::initTestCase() {
    QByteArray Lab;
    if (!Ip({"-o", "addr", "show", "dev", "lab0"}, &Lab) || !Lab.contains(" 198.18.0.1/24 "))
        QSKIP("not inside the network lab");
}

// Each case starts from the lab as it was made, whatever a failed one left behind.
void TestHostInfoLab::cleanup() {
    Ip({"link", "del", "labd0"}, nullptr, true);
    Ip({"addr", "change", "198.18.0.1/24", "dev", "lab0", "preferred_lft", "forever"});
    Ip({"link", "set", "lab0", "up"});
}

// lo, then lab1 with no IPv4 address, then lab0.
void TestHostInfoLab::localAddress() {
    QCOMPARE(GetLocalIPAddress(), QString("198.18.0.1"));
}

// A later adapter's preferred address wins over an earlier adapter's deprecated one.
void TestHostInfoLab::deprecatedAddressIsPassedOver() {
    QVERIFY(Ip({"link", "add", "labd0", "type", "veth", "peer", "name", "labd1"}));
    QVERIFY(Ip({"addr", "add", "198.18.9.1/24", "dev", "labd0"}));
    QVERIFY(Ip({"link", "set", "labd0", "up"}));
    QVERIFY(Ip({"link", "set", "labd1", "up"}));
    QTRY_COMPARE(GetLocalIPAddress(), QString("198.18.0.1"));

    QVERIFY(Ip({"addr", "change", "198.18.0.1/24", "dev", "lab0", "preferred_lft", "0"}));
    QCOMPARE(GetLocalIPAddress(), QString("198.18.9.1"));
    QVERIFY(Ip({"addr", "change", "198.18.0.1/24", "dev", "lab0", "preferred_lft", "forever"}));
    QCOMPARE(GetLocalIPAddress(), QString("198.18.0.1"));
}

void TestHostInfoLab::downAdapterIsSkipped() {
    QVERIFY(Ip({"link", "set", "lab0", "down"}));
    QCOMPARE(GetLocalIPAddress(), QString());
}

void TestHostInfoLab::computerNameOfALongHostName_data() {
    QTest::addColumn<QByteArray>("HostName");
    QTest::addColumn<QString>("Expected");

    QTest::newRow("short") << QByteArray("SRV-ONE") << "SRV-ONE";
    QTest::newRow("long DNS name")
        << QByteArray("Workstation-Accounting-2.example.com") << "Workstation-Acc";
}

// A host name of this process's own, so setting it touches nothing outside.
void TestHostInfoLab::computerNameOfALongHostName() {
    QFETCH(QByteArray, HostName);
    QFETCH(QString, Expected);
    static const bool OwnHostName = unshare(CLONE_NEWUTS) == 0;
    if (!OwnHostName)
        QSKIP("no host name namespace of our own");
    QCOMPARE(sethostname(HostName.constData(), size_t(HostName.size())), 0);
    QCOMPARE(THostEnvironment().ComputerName(), Expected);
}

QTEST_GUILESS_MAIN(TestHostInfoLab)
#include "TestHostInfoLab.moc"
