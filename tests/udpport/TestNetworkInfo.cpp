// Which interface counts as adapter 0, as a rule over plain values, and what
// the lab's interfaces give.
#include "../endpoint/LabGuard.h"
#include "Errors.h"
#include "NetworkInfo.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

using TInterface = TNetworkInfo::TInterface;
Q_DECLARE_METATYPE(std::vector<TInterface>)

namespace {
TInterface Interface(int Index, bool Up, bool Loopback, QStringList Addresses) {
    QStringList Masks;
    for (qsizetype I = 0; I < Addresses.size(); ++I)
        Masks << QStringLiteral("255.255.255.0");
    return {Index, Up, Loopback, Addresses, Masks};
}
bool Ip(const QStringList& Arguments) {
    return QProcess::execute(QStringLiteral("ip"), Arguments) == 0;
}
} // namespace

class TestNetworkInfo : public QObject {
    Q_OBJECT
private slots:
    void firstAdapterIsChosen_data();
    void firstAdapterIsChosen();
    void readsTheLab();
    void secondAddressIsListed();
    void missingAdapterRaises();
};

void TestNetworkInfo::firstAdapterIsChosen_data() {
    QTest::addColumn<std::vector<TInterface>>("Interfaces");
    QTest::addColumn<QStringList>("Adapter0");
    QTest::addColumn<int>("Count");
    const TInterface Loopback = Interface(1, true, true, {"127.0.0.1"});
    const TInterface Ipv6Only = Interface(2, true, false, {});
    const TInterface Down = Interface(3, false, false, {"10.0.0.1"});
    const TInterface Lan = Interface(4, true, false, {"198.18.0.1"});
    const TInterface Wlan = Interface(5, true, false, {"192.168.1.20"});
    QTest::newRow("loopback, IPv6-only and down interfaces are passed over")
        << std::vector{Loopback, Ipv6Only, Down, Lan} << QStringList{"198.18.0.1"} << 1;
    QTest::newRow("index order decides, not listing order")
        << std::vector{Wlan, Lan} << QStringList{"198.18.0.1"} << 2;
    QTest::newRow("only loopback: no adapter") << std::vector{Loopback} << QStringList{} << 0;
    QTest::newRow("nothing at all") << std::vector<TInterface>{} << QStringList{} << 0;
}

void TestNetworkInfo::firstAdapterIsChosen() {
    QFETCH(std::vector<TInterface>, Interfaces);
    QFETCH(QStringList, Adapter0);
    QFETCH(int, Count);
    const auto Adapters = TNetworkInfo::SelectAdapters(Interfaces);
    QCOMPARE(int(Adapters.size()), Count);
    if (Count > 0)
        QCOMPARE(Adapters[0].IPAddresses, Adapter0);
}

void TestNetworkInfo::readsTheLab() {
    // lab1 comes before lab0 in index order but has only an IPv6 address.
    TNetworkInfo Info;
    Info.RefreshData();
    QCOMPARE(Info.AdapterCount(), 1);
    QCOMPARE(Info.IPAddresses(0), QStringList{"198.18.0.1"});
    QCOMPARE(Info.SubnetMasks(0), QStringList{"255.255.255.0"});
}

void TestNetworkInfo::secondAddressIsListed() {
    TNetworkInfo Info;
    QVERIFY(Ip({"addr", "add", "198.18.1.7/16", "dev", "lab0"}));
    Info.RefreshData();
    QVERIFY(Ip({"addr", "del", "198.18.1.7/16", "dev", "lab0"}));
    QCOMPARE(Info.IPAddresses(0), (QStringList{"198.18.0.1", "198.18.1.7"}));
    QCOMPARE(Info.SubnetMasks(0), (QStringList{"255.255.255.0", "255.255.0.0"}));
    // Read afresh only when asked.
    Info.RefreshData();
    QCOMPARE(Info.IPAddresses(0), QStringList{"198.18.0.1"});
}

void TestNetworkInfo::missingAdapterRaises() {
    TNetworkInfo Info;
    QCOMPARE(Info.AdapterCount(), 0); // nothing until the first refresh
    Info.RefreshData();
    try {
        Info.IPAddresses(1);
        QFAIL("no error for adapter 1");
    } catch (const EOSError& E) {
        QCOMPARE(E.Message(),
                 QStringLiteral("No network adapter 1 (1 adapters with an IPv4 address)"));
    }
    QVERIFY_THROWS_EXCEPTION(EOSError, Info.SubnetMasks(-1));
}

LANFINDER_LAB_TEST_MAIN(TestNetworkInfo)
#include "TestNetworkInfo.moc"
