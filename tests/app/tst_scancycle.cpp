// Scans with the real window and the real endpoint, inside the network lab:
// StartScan opens UDP 15350 and broadcasts. Server reports arrive as real
// datagrams from a socket in the lab; ticks are driven by calling the timer's
// handler, so no test waits 31 seconds.

#include "AlohaMessages.h"
#include "AlohaUDP.h"
#include "AnsiCodePage.h"
#include "BoxWatcher.h"
#include "CircularGauge.h"
#include "FlatButton.h"
#include "ListGrid.h"
#include "Main.h"

#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace {

const QHostAddress LabBroadcast(QStringLiteral("198.18.0.255"));
constexpr quint16 AlohaPort = 15350;
const QString Application = QStringLiteral("quillory");
const QString Scanning = QStringLiteral("Scanning for Quillory 5 Servers on your network...");
const QString NoneFound = QStringLiteral("No Quillory Servers were found on this network.");
const QString Completed = QStringLiteral("Server scan has completed.");

// A window whose endpoint can't start: naming a host that does not exist makes
// StartCommunication raise before the port is opened.
class TFailingStartMain : public TfrmMain {
protected:
    std::unique_ptr<TAlohaUDP> CreateAloha() override {
        auto Aloha = TfrmMain::CreateAloha();
        Aloha->SetRemoteHost(QStringLiteral("no-such-host.invalid"));
        return Aloha;
    }
};

// Everything that crosses the lab's port 15350, as text.
class TLabEar {
public:
    TLabEar() {
        FSocket.bind(QHostAddress::AnyIPv4, AlohaPort,
                     QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
        QObject::connect(&FSocket, &QUdpSocket::readyRead, [this] {
            while (FSocket.hasPendingDatagrams())
                FHeard.append(AnsiDecode(FSocket.receiveDatagram().data()));
        });
    }
    bool Bound() const { return FSocket.state() == QAbstractSocket::BoundState; }
    int Count(const QString& Kind) const {
        int N = 0;
        for (const QString& Text : FHeard) {
            const auto Message = DecodeMessage(Text, Application);
            N += Message && Message->Kind == KindOf(Kind);
        }
        return N;
    }
    void Clear() { FHeard.clear(); }

private:
    static TAlohaMessageKind KindOf(const QString& Kind) {
        return Kind == QLatin1String("find_server") ? TAlohaMessageKind::FindServer
                                                    : TAlohaMessageKind::ServerAnnounce;
    }
    QUdpSocket FSocket;
    QStringList FHeard;
};

void SendAnnounce(const QString& Name, const QString& Address, qint32 Port) {
    QUdpSocket Socket;
    Socket.writeDatagram(AnsiEncode(BuildServerAnnounceMessage(Application, Address, Port, Name)),
                         LabBroadcast, AlohaPort);
}

void SendFindResponse(const QString& Name, const QString& Address, qint32 Port) {
    QUdpSocket Socket;
    Socket.writeDatagram(
        AnsiEncode(BuildFindServerResponseMessage(Application, Name, Address, Port)), LabBroadcast,
        AlohaPort);
}

QStringList Rows(const TfrmMain& Form) {
    QStringList Result;
    for (int Row = 0; Row < Form.grdServers->RowCount(); ++Row)
        Result << Form.grdServers->Cell(Row, 0) + '|' + Form.grdServers->Cell(Row, 1) + '|' +
                      Form.grdServers->Cell(Row, 2);
    return Result;
}

// The remaining ticks down to 0 by hand, checking the gauge on the way. It starts
// from wherever the scan is, in case the real timer got a tick in first.
bool CountDown(TfrmMain& Form) {
    while (Form.Counter() > 0) {
        const int Before = Form.Counter();
        Form.tmrScanTimer(Form.tmrScan);
        if (Form.Counter() != Before - 1 || Form.ProgressCircle->Value() != Before - 1 ||
            Form.ProgressCircle->isHidden() || !Form.Aloha())
            return false;
    }
    return Form.ProgressCircle->Value() == 0 && Form.ProgressCircle->isVisible();
}

// The 31st tick, with its box closed by the watcher.
void Complete(TfrmMain& Form, TBoxWatcher& Boxes) {
    Boxes.Expect();
    Form.tmrScanTimer(Form.tmrScan);
}

} // namespace

class TScanCycleTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void scanStartsCountsDownAndCompletes();
    void reportsDuringScansAndAfter();
    void emptyListTextsAcrossScans();
    void exitDuringScan();
    void errorBoxKeepsTheScanGoing();

private:
    QTemporaryDir FState;
};

void TScanCycleTest::initTestCase() {
    if (qEnvironmentVariableIsEmpty("LANFINDER_NETLAB"))
        QSKIP("scans only run inside scripts/netlab");
    QVERIFY(FState.isValid());
    // The endpoint's activity log goes to a throw-away folder.
    qputenv("XDG_STATE_HOME", FState.path().toLocal8Bit());
    // The lab has no name server; fail the lookup of the missing host quickly.
    qputenv("RES_OPTIONS", "timeout:1 attempts:1");
}

void TScanCycleTest::scanStartsCountsDownAndCompletes() {
    TLabEar Ear;
    QVERIFY(Ear.Bound());
    TBoxWatcher Boxes;
    TfrmMain Form;
    Form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Form));

    QTest::mouseClick(Form.btnScan, Qt::LeftButton);
    QVERIFY(Form.Aloha());
    QCOMPARE(Form.Counter(), 30);
    QVERIFY(!Form.btnScan->isEnabled());
    QVERIFY(Form.btnExit->isEnabled());
    QCOMPARE(Form.grdServers->EmptyText(), Scanning);
    QVERIFY(Form.ProgressCircle->isVisible());
    QCOMPARE(Form.ProgressCircle->Value(), 30);
    QVERIFY(Form.tmrScan->isActive());
    QCOMPARE(Form.tmrScan->interval(), 1000);
    QVERIFY(QGuiApplication::overrideCursor());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // One find request, to the limited and to the subnet broadcast address.
    QTRY_COMPARE(Ear.Count("find_server"), 2);

    QVERIFY(CountDown(Form));
    QVERIFY(Form.tmrScan->isActive());
    QVERIFY(Boxes.Seen().isEmpty());

    Complete(Form, Boxes);
    QCOMPARE(Boxes.Seen().size(), 1);
    QCOMPARE(Boxes.Seen()[0].Title, QStringLiteral("Information"));
    QCOMPARE(Boxes.Seen()[0].Text, Completed);
    QCOMPARE(Boxes.Seen()[0].Icon, QMessageBox::Information);
    QCOMPARE(Form.Aloha(), nullptr);
    QVERIFY(!Form.tmrScan->isActive());
    QVERIFY(Form.btnScan->isEnabled());
    QVERIFY(Form.ProgressCircle->isHidden());
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QCOMPARE(Form.grdServers->EmptyText(), NoneFound);
    QCOMPARE(Ear.Count("find_server"), 2);
}

void TScanCycleTest::reportsDuringScansAndAfter() {
    TBoxWatcher Boxes;
    TfrmMain Form;
    Form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Form));

    QTest::mouseClick(Form.btnScan, Qt::LeftButton);
    SendFindResponse("SRV-ONE", "198.18.0.2", 15350);
    SendAnnounce("SRV-ONE", "198.18.0.2", 15350);
    SendAnnounce("srv-one", "198.18.0.3", 0);
    SendFindResponse("SRV-TWO", "198.18.0.4", -1);
    SendAnnounce("SRV-TWO", "198.18.0.5", 1);
    QTRY_COMPARE(Rows(Form), (QStringList{"SRV-ONE|198.18.0.2|15350", "srv-one|198.18.0.3|0",
                                          "SRV-TWO|198.18.0.4|-1"}));
    QVERIFY(CountDown(Form));
    Complete(Form, Boxes);
    QCOMPARE(Form.grdServers->EmptyText(), Scanning);

    // The released endpoint hears nothing more.
    SendAnnounce("SRV-LATE", "198.18.0.6", 1);
    QTest::qWait(200);
    QCOMPARE(Form.grdServers->RowCount(), 3);

    // A second scan starts from 30 again and keeps the first scan's rows, even
    // when a known server now reports another address.
    QTest::mouseClick(Form.btnScan, Qt::LeftButton);
    QCOMPARE(Form.ProgressCircle->Value(), 30);
    QCOMPARE(Form.Counter(), 30);
    SendAnnounce("SRV-ONE", "198.18.0.99", 99);
    SendAnnounce("SRV-THREE", "198.18.0.7", 15350);
    QTRY_COMPARE(Form.grdServers->RowCount(), 4);
    QVERIFY(CountDown(Form));
    Complete(Form, Boxes);
    QCOMPARE(Rows(Form), (QStringList{"SRV-ONE|198.18.0.2|15350", "srv-one|198.18.0.3|0",
                                      "SRV-TWO|198.18.0.4|-1", "SRV-THREE|198.18.0.7|15350"}));
    QCOMPARE(Boxes.Seen().size(), 2);
}

void TScanCycleTest::emptyListTextsAcrossScans() {
    TBoxWatcher Boxes;
    TfrmMain Form;
    Form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Form));

    QTest::mouseClick(Form.btnScan, Qt::LeftButton);
    QVERIFY(CountDown(Form));
    Complete(Form, Boxes);
    QCOMPARE(Form.grdServers->EmptyText(), NoneFound);

    QTest::mouseClick(Form.btnScan, Qt::LeftButton);
    QCOMPARE(Form.grdServers->EmptyText(), Scanning);
    SendAnnounce("SRV-ONE", "198.18.0.2", 15350);
    QTRY_COMPARE(Form.grdServers->RowCount(), 1);
    QVERIFY(CountDown(Form));
    Complete(Form, Boxes);

    // Nothing answers now, but the earlier row stays and no "none found" text is set.
    QTest::mouseClick(Form.btnScan, Qt::LeftButton);
    QVERIFY(CountDown(Form));
    Complete(Form, Boxes);
    QCOMPARE(Form.grdServers->RowCount(), 1);
    QCOMPARE(Form.grdServers->EmptyText(), Scanning);
    QCOMPARE(Boxes.Seen().size(), 3);
}

void TScanCycleTest::exitDuringScan() {
    TBoxWatcher Boxes;
    auto Form = std::make_unique<TfrmMain>();
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    QTest::mouseClick(Form->btnScan, Qt::LeftButton);
    Form->tmrScanTimer(Form->tmrScan);
    QVERIFY(Form->Aloha());

    QTest::mouseClick(Form->btnExit, Qt::LeftButton);
    QVERIFY(!Form->isVisible());
    Form.reset(); // what the program does once its loop has ended
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QTest::qWait(1500); // a tick's worth: no completion box turns up later
    QVERIFY(Boxes.Seen().isEmpty());
}

void TScanCycleTest::errorBoxKeepsTheScanGoing() {
    TLabEar Ear;
    QVERIFY(Ear.Bound());
    TBoxWatcher Boxes;
    TFailingStartMain Form;
    Form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Form));

    int GaugeWhileErrorOpen = -1;
    bool EndpointGoneInsideBox = false;
    bool ScanEnabledInsideBox = false;
    Boxes.Expect([&](QMessageBox*) {
        // The real timer goes on ticking inside the box's own loop...
        (void)QTest::qWaitFor([&] { return Form.ProgressCircle->Value() < 30; }, 3000);
        GaugeWhileErrorOpen = Form.ProgressCircle->Value();
        // ...and a box left open past the 31st tick sees the scan complete in it.
        while (Form.Counter() > 0)
            Form.tmrScanTimer(Form.tmrScan);
        Boxes.Expect();
        Form.tmrScanTimer(Form.tmrScan);
        EndpointGoneInsideBox = Form.Aloha() == nullptr;
        ScanEnabledInsideBox = Form.btnScan->isEnabled();
    });
    QTest::mouseClick(Form.btnScan, Qt::LeftButton);

    QCOMPARE(Boxes.Pending(), 0);
    QCOMPARE(Boxes.Seen().size(), 2);
    QCOMPARE(Boxes.Seen()[0].Title, QStringLiteral("Error"));
    QCOMPARE(Boxes.Seen()[0].Icon, QMessageBox::Critical);
    QVERIFY(!Boxes.Seen()[0].Text.isEmpty());
    QCOMPARE(Boxes.Seen()[1].Title, QStringLiteral("Information"));
    QCOMPARE(Boxes.Seen()[1].Text, Completed);
    QCOMPARE(GaugeWhileErrorOpen, 29);
    QVERIFY(EndpointGoneInsideBox);
    QVERIFY(ScanEnabledInsideBox);

    QCOMPARE(Form.Aloha(), nullptr);
    QVERIFY(!Form.tmrScan->isActive());
    QCOMPARE(Form.grdServers->EmptyText(), NoneFound);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QTest::qWait(100);
    QCOMPARE(Ear.Count("find_server"), 0);
}

QTEST_MAIN(TScanCycleTest)
#include "tst_scancycle.moc"
