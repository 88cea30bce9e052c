// lab_sender on the wire, inside the lab: what it says it sent is what arrives,
// byte for byte, so the benchmarks and the flood test can trust its report.
#include "LabGuard.h"
#include "LabRun.h"
#include "LabSender.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTest>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <numeric>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace labsender;

namespace {

// A socket bound the way the port binds, with room for everything a short run sends.
class TListener {
public:
    TListener() {
        FSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int On = 1;
        const int Size = 4 << 20;
        setsockopt(FSocket, SOL_SOCKET, SO_REUSEADDR, &On, sizeof On);
        setsockopt(FSocket, SOL_SOCKET, SO_RCVBUF, &Size, sizeof Size);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(DiscoveryPort);
        FBound = bind(FSocket, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~TListener() { close(FSocket); }
    bool Bound() const { return FBound; }

    // Everything that arrives until the line has been quiet for a while.
    std::vector<std::string> ReceiveAll() {
        std::vector<std::string> Out;
        std::unique_ptr<char[]> Buffer(new char[MaxDatagram + 1]);
        pollfd p{FSocket, POLLIN, 0};
        while (poll(&p, 1, 300) > 0) {
            const ssize_t n = recv(FSocket, Buffer.get(), MaxDatagram + 1, MSG_DONTWAIT);
            if (n >= 0)
                Out.emplace_back(Buffer.get(), static_cast<std::size_t>(n));
        }
        return Out;
    }

private:
    int FSocket = -1;
    bool FBound = false;
};

QJsonObject RunSender(const std::vector<std::string>& Args) {
    TSenderProcess Sender;
    Sender.Start(SenderPath(), Args);
    Sender.Wait();
    if (Sender.ExitStatus() != 0)
        return {};
    return QJsonDocument::fromJson(QByteArray::fromStdString(Sender.Report())).object();
}

} // namespace

class TestLabSenderOnTheWire : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void BurstArrivesWhole();
    void FloodArrivesAsReported();
};

void TestLabSenderOnTheWire::initTestCase() {
    if (!CheckLab().Inside)
        QSKIP("not inside the network lab");
}

void TestLabSenderOnTheWire::BurstArrivesWhole() {
    TListener Listener;
    QVERIFY(Listener.Bound());
    const QJsonObject Report = RunSender({"--burst", "600", "--names", "300"});
    QCOMPARE(Report["sent"].toInteger(), 600);
    const std::vector<std::string> Got = Listener.ReceiveAll();
    QCOMPARE(Got.size(), std::size_t(600));
    // Two rounds of the 300 names, in order.
    for (std::size_t i = 0; i < Got.size(); ++i)
        QCOMPARE(Got[i], FindServerResponse(static_cast<int>(i % 300), 300));
}

void TestLabSenderOnTheWire::FloodArrivesAsReported() {
    TListener Listener;
    QVERIFY(Listener.Bound());
    const QJsonObject Report = RunSender({"--mix", "flood", "--count", "3000", "--seed", "11"});
    QCOMPARE(Report["sent"].toInteger(), 3000);
    qint64 Kinds = 0;
    for (const QJsonValue& v : Report["kinds"].toObject())
        Kinds += v.toInteger();
    QCOMPARE(Kinds, 3000);

    // The receiver sees the same datagrams the generator makes for that seed.
    TFloodGenerator Expected(11, 1000, 1000);
    std::string d;
    std::vector<std::string> Want;
    for (int i = 0; i < 3000; ++i) {
        Expected.Next(d);
        Want.push_back(d);
    }
    const std::vector<std::string> Got = Listener.ReceiveAll();
    QCOMPARE(Got.size(), Want.size());
    for (std::size_t i = 0; i < Got.size(); ++i)
        QVERIFY2(Got[i] == Want[i], qPrintable(QString("datagram %1 differs").arg(i)));
    QCOMPARE(
        Report["bytes"].toInteger(),
        qint64(std::accumulate(Want.begin(), Want.end(), std::size_t(0),
                               [](std::size_t n, const std::string& s) { return n + s.size(); })));
}

QTEST_APPLESS_MAIN(TestLabSenderOnTheWire)
#include "tst_labsender_lab.moc"
