// The sender's rules: what it accepts on its command line, what it puts on the
// wire, where it agrees to run, and what its report says.
#include "LabSender.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTest>
#include <stdexcept>

using namespace labsender;

Q_DECLARE_METATYPE(std::vector<std::string>)
Q_DECLARE_METATYPE(std::vector<labsender::TInterfaceAddress>)

namespace {

std::vector<std::string> Split(const char* Text) {
    std::vector<std::string> Out;
    for (const QString& Part : QString::fromLatin1(Text).split(' ', Qt::SkipEmptyParts))
        Out.push_back(Part.toStdString());
    return Out;
}

TInterfaceAddress Iface(const char* Name, const char* Address, const char* Mask,
                        const char* Broadcast) {
    TInterfaceAddress a;
    a.Name = Name;
    a.Address = ParseDotted(Address);
    a.Mask = ParseDotted(Mask);
    if (Broadcast != nullptr)
        a.Broadcast = ParseDotted(Broadcast);
    return a;
}

// Field value of a CR LF text, as a receiver of this system reads it.
QString Field(const std::string& Datagram, const QString& Name) {
    const QString Text = QString::fromLatin1(Datagram.data(), qsizetype(Datagram.size()));
    for (const QString& Line : Text.split("\r\n")) {
        const qsizetype Eq = Line.indexOf('=');
        if (Eq > 0 && Line.left(Eq).compare(Name, Qt::CaseInsensitive) == 0)
            return Line.mid(Eq + 1);
    }
    return {};
}

} // namespace

class TestLabSender : public QObject {
    Q_OBJECT
private slots:
    void ParseGoodOptions_data();
    void ParseGoodOptions();
    void ParseBadOptions_data();
    void ParseBadOptions();
    void ResponseIsTheWireFormat();
    void ResponsesOfOneRunAreDistinctAndEqualInSize();
    void LabInterface_data();
    void LabInterface();
    void FloodHoldsEveryKind();
    void FloodRepeatsEveryNameInTurn();
    void FloodIsReproducible();
    void RandomPoolBoundsTheJunkNames();
    void ReportIsOneJsonObject();
};

void TestLabSender::ParseGoodOptions_data() {
    QTest::addColumn<QString>("Args");
    QTest::addColumn<int>("Mode");
    QTest::addColumn<double>("Rate");
    QTest::addColumn<qlonglong>("Count");
    QTest::addColumn<int>("Names");
    using M = TOptions::EMode;
    QTest::newRow("paced rate, default names")
        << "--rate 5000 --seconds 3" << int(M::Rate) << 5000.0 << 0LL << 1000;
    QTest::newRow("a burst of K distinct servers")
        << "--burst 2000 --names 2000" << int(M::Burst) << 0.0 << 2000LL << 2000;
    QTest::newRow("flood at full speed")
        << "--mix flood --count 1000000" << int(M::Flood) << 0.0 << 1000000LL << 1000;
    QTest::newRow("flood, paced, options in any order")
        << "--count 10 --rate 100 --mix flood --seed 9" << int(M::Flood) << 100.0 << 10LL << 1000;
}

void TestLabSender::ParseGoodOptions() {
    QFETCH(QString, Args);
    QFETCH(int, Mode);
    QFETCH(double, Rate);
    QFETCH(qlonglong, Count);
    QFETCH(int, Names);
    const TOptions o = ParseOptions(Split(Args.toLatin1().constData()));
    QCOMPARE(int(o.Mode), Mode);
    QCOMPARE(o.Rate, Rate);
    QCOMPARE(o.Count, Count);
    QCOMPARE(o.Names, Names);
}

void TestLabSender::ParseBadOptions_data() {
    QTest::addColumn<QString>("Args");
    QTest::addColumn<QString>("Message");
    QTest::newRow("nothing to send")
        << ""
        << "say what to send: --rate N --seconds S, --burst K or --mix flood --count N";
    QTest::newRow("rate without seconds") << "--rate 10"
                                          << "--rate and --seconds go together";
    QTest::newRow("value missing") << "--burst"
                                   << "--burst needs a value";
    QTest::newRow("burst of zero") << "--burst 0"
                                   << "--burst wants a whole number from 1 to 100000000, not '0'";
    QTest::newRow("trailing junk in a count")
        << "--burst 12x"
        << "--burst wants a whole number from 1 to 100000000, not '12x'";
    QTest::newRow("negative rate") << "--rate -5 --seconds 1"
                                   << "--rate wants a number above 0 and up to 100000000, not '-5'";
    QTest::newRow("rate that is not a number")
        << "--rate nan --seconds 1"
        << "--rate wants a number above 0 and up to 100000000, not 'nan'";
    QTest::newRow("zero names") << "--burst 5 --names 0"
                                << "--names wants a whole number from 1 to 1000000, not '0'";
    QTest::newRow("unknown mix") << "--mix storm --count 5"
                                 << "--mix knows only 'flood', not 'storm'";
    QTest::newRow("flood without count") << "--mix flood"
                                         << "--mix flood needs --count N";
    QTest::newRow("burst with a rate") << "--burst 5 --rate 10"
                                       << "--burst goes alone: no --rate, --seconds or --count";
    QTest::newRow("unknown option") << "--to 10.0.0.255"
                                    << "unknown option '--to'";
}

void TestLabSender::ParseBadOptions() {
    QFETCH(QString, Args);
    QFETCH(QString, Message);
    try {
        ParseOptions(Split(Args.toLatin1().constData()));
        QFAIL("accepted");
    } catch (const std::invalid_argument& e) {
        QCOMPARE(QString::fromLatin1(e.what()), Message);
    }
}

void TestLabSender::ResponseIsTheWireFormat() {
    QCOMPARE(QByteArray::fromStdString(FindServerResponse(7, 1000)),
             QByteArray("protocol=aloha\r\napplication=quillory\r\n"
                        "message_type=find_server_response\r\nserver_name=SRV-0007\r\n"
                        "server_ip_address=198.18.100.107\r\nserver_port=15350\r\n"));
}

void TestLabSender::ResponsesOfOneRunAreDistinctAndEqualInSize() {
    const int Names = 20000;
    QSet<QString> Seen;
    const std::size_t Size = FindServerResponse(0, Names).size();
    for (int i = 0; i < Names; ++i) {
        const std::string d = FindServerResponse(i, Names);
        QCOMPARE(d.size(), Size);
        Seen.insert(Field(d, "server_name"));
    }
    QCOMPARE(Seen.size(), Names);
    QCOMPARE(ServerName(19999, Names), std::string("SRV-19999"));
}

void TestLabSender::LabInterface_data() {
    QTest::addColumn<std::vector<TInterfaceAddress>>("Addresses");
    QTest::addColumn<QString>("Found");
    const auto Lo = Iface("lo", "127.0.0.1", "255.0.0.0", nullptr);
    QTest::newRow("the lab link beside loopback")
        << std::vector{Lo, Iface("lab0", "198.18.0.1", "255.255.255.0", "198.18.0.255")} << "lab0";
    QTest::newRow("loopback only") << std::vector{Lo} << "";
    QTest::newRow("the machine's own network")
        << std::vector{Lo, Iface("eth0", "10.4.0.17", "255.255.0.0", "10.4.255.255")} << "";
    QTest::newRow("lab address with a wider mask broadcasts beyond the lab")
        << std::vector{Iface("lab0", "198.18.0.1", "255.254.0.0", "198.19.255.255")} << "";
    QTest::newRow("another host of the lab subnet")
        << std::vector{Iface("lab0", "198.18.0.2", "255.255.255.0", "198.18.0.255")} << "";
    QTest::newRow("point-to-point link without broadcast")
        << std::vector{Iface("tun0", "198.18.0.1", "255.255.255.0", nullptr)} << "";
}

void TestLabSender::LabInterface() {
    QFETCH(std::vector<TInterfaceAddress>, Addresses);
    QFETCH(QString, Found);
    const auto Name = FindLabInterface(Addresses);
    QCOMPARE(QString::fromStdString(Name.value_or("")), Found);
}

void TestLabSender::FloodHoldsEveryKind() {
    TFloodGenerator g(42, 1000, 1000);
    std::array<int, FloodKindCount> Counts{};
    std::string d;
    bool SawNul = false;
    for (int i = 0; i < 20000; ++i) {
        const EFloodKind k = g.Next(d);
        ++Counts[int(k)];
        QVERIFY(!d.empty());
        QVERIFY(d.size() <= MaxDatagram);
        if (k == EFloodKind::Oversized)
            QCOMPARE(d.size(), MaxDatagram);
        if (k == EFloodKind::NulText)
            SawNul = SawNul || d.find('\0') != std::string::npos;
    }
    for (int k = 0; k < FloodKindCount; ++k)
        QVERIFY2(Counts[k] > 0, FloodKindName(EFloodKind(k)));
    QVERIFY(SawNul);
}

void TestLabSender::FloodRepeatsEveryNameInTurn() {
    // The flood check lists each of the names exactly once; that only holds if
    // every name keeps coming back among the junk.
    const int Names = 1000;
    TFloodGenerator g(7, Names, 1000);
    std::string d;
    int Valid = 0;
    while (Valid < 3 * Names) {
        if (g.Next(d) != EFloodKind::ValidResponse)
            continue;
        QCOMPARE(d, FindServerResponse(Valid % Names, Names));
        ++Valid;
    }
}

void TestLabSender::FloodIsReproducible() {
    TFloodGenerator a(5, 1000, 100), b(5, 1000, 100), c(6, 1000, 100);
    std::string da, db, dc;
    bool Differs = false;
    for (int i = 0; i < 2000; ++i) {
        a.Next(da);
        b.Next(db);
        c.Next(dc);
        QCOMPARE(da, db);
        Differs = Differs || da != dc;
    }
    QVERIFY(Differs);
}

void TestLabSender::RandomPoolBoundsTheJunkNames() {
    TFloodGenerator g(3, 1000, 50);
    QSet<QString> Junk;
    std::string d;
    for (int i = 0; i < 50000; ++i) {
        const EFloodKind k = g.Next(d);
        if (k == EFloodKind::FindServerResponse || k == EFloodKind::ServerAnnounce)
            Junk.insert(Field(d, "server_name"));
    }
    // The pool's values, and the empty name of a message that lacks the field.
    QVERIFY(Junk.size() <= 50 + 1);
    QVERIFY(Junk.size() > 10);
}

void TestLabSender::ReportIsOneJsonObject() {
    TReport r;
    r.Mode = "flood";
    r.Interface = "lab\"0";
    r.Sent = 12;
    r.Bytes = 1440;
    r.Seconds = 0.5;
    r.Names = 1000;
    r.Kinds = {{"valid_response", 10}, {"oversized", 2}};
    const std::string Line = FormatReport(r);
    QVERIFY(Line.find('\n') == std::string::npos);
    QJsonParseError Error{};
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(Line), &Error).object();
    QCOMPARE(Error.error, QJsonParseError::NoError);
    QCOMPARE(o["interface"].toString(), QString("lab\"0"));
    QCOMPARE(o["destination"].toString(), QString("198.18.0.255:15350"));
    QCOMPARE(o["sent"].toInteger(), 12);
    QCOMPARE(o["achieved_rate"].toDouble(), 24.0);
    QCOMPARE(o["kinds"].toObject()["oversized"].toInteger(), 2);
}

QTEST_APPLESS_MAIN(TestLabSender)
#include "tst_labsender.moc"
