#include "Errors.h"
#include "IPv4Address.h"

#include <QTest>

using TOctets = std::array<quint8, 4>;
Q_DECLARE_METATYPE(TOctets)

class TestIPv4Address : public QObject {
    Q_OBJECT

private slots:
    void textToOctets_data();
    void textToOctets();
    void badText_data();
    void badText();
    void octetsToText_data();
    void octetsToText();
    void numericValue();
    void broadcastAddress_data();
    void broadcastAddress();
};

void TestIPv4Address::textToOctets_data() {
    QTest::addColumn<QString>("Text");
    QTest::addColumn<TOctets>("Octets");

    QTest::newRow("plain address") << "192.168.1.20" << TOctets{192, 168, 1, 20};
    QTest::newRow("empty text reads as 0.0.0.0") << "" << TOctets{0, 0, 0, 0};
    QTest::newRow("all zeros") << "0.0.0.0" << TOctets{0, 0, 0, 0};
    QTest::newRow("limited broadcast") << "255.255.255.255" << TOctets{255, 255, 255, 255};
    QTest::newRow("leading zeros are decimal, not octal")
        << "010.001.000.009" << TOctets{10, 1, 0, 9};
    QTest::newRow("leading spaces in a part") << " 7.  8.9. 10" << TOctets{7, 8, 9, 10};
    QTest::newRow("signs") << "+1.-0.+2.3" << TOctets{1, 0, 2, 3};
    QTest::newRow("256 keeps its low 8 bits") << "256.1.1.1" << TOctets{0, 1, 1, 1};
    QTest::newRow("300 keeps its low 8 bits") << "1.300.1.1" << TOctets{1, 44, 1, 1};
    QTest::newRow("-1 keeps its low 8 bits") << "1.1.-1.1" << TOctets{1, 1, 255, 1};
    QTest::newRow("largest signed 32-bit value") << "2147483647.0.0.0" << TOctets{255, 0, 0, 0};
    QTest::newRow("smallest signed 32-bit value") << "-2147483648.0.0.0" << TOctets{0, 0, 0, 0};
}

void TestIPv4Address::textToOctets() {
    QFETCH(QString, Text);
    QFETCH(TOctets, Octets);
    QCOMPARE(StrToIPv4Address(Text).Octets, Octets);
}

void TestIPv4Address::badText_data() {
    QTest::addColumn<QString>("Text");
    QTest::addColumn<QString>("Message");

    const QString NotInteger = QStringLiteral("'%1' is not a valid integer value");
    QTest::newRow("two adjacent points") << "1..2.3" << NotInteger.arg("");
    QTest::newRow("trailing point") << "1.2.3." << NotInteger.arg("");
    QTest::newRow("leading point") << ".1.2.3" << NotInteger.arg("");
    QTest::newRow("space after the digits") << "1.2 .3.4" << NotInteger.arg("2 ");
    QTest::newRow("letters") << "1.2.x.4" << NotInteger.arg("x");
    QTest::newRow("sign without digits") << "1.2.3.-" << NotInteger.arg("-");
    QTest::newRow("two signs") << "1.+-2.3.4" << NotInteger.arg("+-2");
    QTest::newRow("blank part") << "1.2.  .4" << NotInteger.arg("  ");
    QTest::newRow("hexadecimal with $") << "$ff.0.0.1" << NotInteger.arg("$ff");
    QTest::newRow("hexadecimal with 0x") << "0x7f.0.0.1" << NotInteger.arg("0x7f");
    QTest::newRow("above signed 32-bit range")
        << "2147483648.0.0.0" << NotInteger.arg("2147483648");
    QTest::newRow("below signed 32-bit range")
        << "-2147483649.0.0.0" << NotInteger.arg("-2147483649");
    QTest::newRow("far beyond 64 bits")
        << "1.99999999999999999999999.0.0" << NotInteger.arg("99999999999999999999999");
    QTest::newRow("digits of another script")
        << QString::fromUtf8("1.\u0662.3.4") << NotInteger.arg(QString::fromUtf8("\u0662"));
    QTest::newRow("a bad part is named before a count is checked") << "1.y" << NotInteger.arg("y");
    QTest::newRow("no point at all") << "7"
                                     << "'7' is not a valid IPv4 address: it has 1 of four parts";
    QTest::newRow("three parts") << "1.2.3"
                                 << "'1.2.3' is not a valid IPv4 address: it has 3 of four parts";
    QTest::newRow("five parts")
        << "1.2.3.4.5"
        << "'1.2.3.4.5' is not a valid IPv4 address: it has more than four parts";
    QTest::newRow("an extra empty part")
        << "1.2.3.4."
        << "'1.2.3.4.' is not a valid IPv4 address: it has more than four parts";
}

void TestIPv4Address::badText() {
    QFETCH(QString, Text);
    QFETCH(QString, Message);
    try {
        StrToIPv4Address(Text);
        QFAIL("no conversion error");
    } catch (const EConvertError& E) {
        QCOMPARE(E.Message(), Message);
    }
}

void TestIPv4Address::octetsToText_data() {
    QTest::addColumn<TOctets>("Octets");
    QTest::addColumn<QString>("Text");

    QTest::newRow("no leading zeros") << TOctets{10, 1, 0, 9} << "10.1.0.9";
    QTest::newRow("octet 0 comes first") << TOctets{1, 2, 3, 4} << "1.2.3.4";
    QTest::newRow("largest octets") << TOctets{255, 255, 255, 255} << "255.255.255.255";
}

void TestIPv4Address::octetsToText() {
    QFETCH(TOctets, Octets);
    QFETCH(QString, Text);
    TIPv4Address Address;
    Address.Octets = Octets;
    QCOMPARE(IPv4AddressToStr(Address), Text);
    QCOMPARE(StrToIPv4Address(Text), Address);
}

void TestIPv4Address::numericValue() {
    const TIPv4Address Address = StrToIPv4Address("1.2.3.4");
    QCOMPARE(IPv4AddressToValue(Address), 0x01020304u);
    QCOMPARE(ValueToIPv4Address(0x01020304u).Octets, (TOctets{1, 2, 3, 4}));
    QCOMPARE(IPv4AddressToValue(StrToIPv4Address("")), 0u);
    QCOMPARE(IPv4AddressToValue(StrToIPv4Address("255.0.0.128")), 0xFF000080u);
    for (quint32 Value : {0u, 1u, 0x80000000u, 0xC0A80114u, 0xFFFFFFFFu})
        QCOMPARE(IPv4AddressToValue(ValueToIPv4Address(Value)), Value);
}

void TestIPv4Address::broadcastAddress_data() {
    QTest::addColumn<QString>("Address");
    QTest::addColumn<QString>("Mask");
    QTest::addColumn<QString>("Broadcast");

    QTest::newRow("class C subnet") << "192.168.1.20"
                                    << "255.255.255.0"
                                    << "192.168.1.255";
    QTest::newRow("lab subnet") << "198.18.0.1"
                                << "255.255.255.0"
                                << "198.18.0.255";
    QTest::newRow("narrow subnet") << "10.0.0.9"
                                   << "255.255.255.248"
                                   << "10.0.0.15";
    QTest::newRow("wide subnet") << "172.16.5.4"
                                 << "255.240.0.0"
                                 << "172.31.255.255";
    QTest::newRow("empty mask reads as 0.0.0.0") << "192.168.1.20"
                                                 << ""
                                                 << "255.255.255.255";
    QTest::newRow("empty mask, empty address") << ""
                                               << ""
                                               << "255.255.255.255";
    QTest::newRow("host mask") << "192.168.1.20"
                               << "255.255.255.255"
                               << "192.168.1.20";
}

void TestIPv4Address::broadcastAddress() {
    QFETCH(QString, Address);
    QFETCH(QString, Mask);
    QFETCH(QString, Broadcast);
    const quint32 Value =
        IPv4AddressToValue(StrToIPv4Address(Address)) | ~IPv4AddressToValue(StrToIPv4Address(Mask));
    QCOMPARE(IPv4AddressToStr(ValueToIPv4Address(Value)), Broadcast);
}

QTEST_APPLESS_MAIN(TestIPv4Address)
#include "TestIPv4Address.moc"
