// One whole scan as a user sees it, inside the network lab: the real window and
// endpoint, two "aloha serve" hosts, the real one-second timer.

#include "AlohaMessages.h"
#include "AnsiCodePage.h"
#include "BoxWatcher.h"
#include "FlatButton.h"
#include "ListGrid.h"
#include "Main.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>
#include <memory>
#include <vector>

class TEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void fullScanListsBothServers();
    void cleanupTestCase();

private:
    bool StartServer(const QString& HostName);

    QTemporaryDir FState;
    QString FAloha;
    QString FNetlab;
    std::vector<std::unique_ptr<QProcess>> FServers;
};

void TEndToEndTest::initTestCase() {
    if (qEnvironmentVariableIsEmpty("LANFINDER_NETLAB"))
        QSKIP("the end-to-end scan only runs inside scripts/netlab");
    FAloha = QDir(qEnvironmentVariable("LANFINDER_BIN_DIR")).filePath(QStringLiteral("aloha"));
    FNetlab = QDir(qEnvironmentVariable("LANFINDER_SOURCE_DIR"))
                  .filePath(QStringLiteral("scripts/netlab"));
    QProcess Probe;
    Probe.start(FAloha, {QStringLiteral("serve"), QStringLiteral("--help")});
    if (!Probe.waitForFinished(10000) || Probe.exitStatus() != QProcess::NormalExit ||
        Probe.exitCode() != 0)
        QSKIP("no working 'aloha serve' in the build yet");
    QVERIFY(FState.isValid());
    // The window's and the servers' activity logs go to a throw-away folder.
    qputenv("XDG_STATE_HOME", FState.path().toLocal8Bit());
}

bool TEndToEndTest::StartServer(const QString& HostName) {
    auto Server = std::make_unique<QProcess>();
    Server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Server->start(FNetlab, {QStringLiteral("host"), HostName, QStringLiteral("--"), FAloha,
                            QStringLiteral("serve")});
    const bool Started = Server->waitForStarted(10000);
    FServers.push_back(std::move(Server));
    return Started;
}

void TEndToEndTest::fullScanListsBothServers() {
    // The servers greet the lab when they are up: wait for both hellos.
    QUdpSocket Ear;
    QVERIFY(Ear.bind(QHostAddress::AnyIPv4, 15350,
                     QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
    QSet<QString> Greeted;
    connect(&Ear, &QUdpSocket::readyRead, [&] {
        while (Ear.hasPendingDatagrams()) {
            const auto Message =
                DecodeMessage(AnsiDecode(Ear.receiveDatagram().data()), QStringLiteral("quillory"));
            if (Message && Message->Kind == TAlohaMessageKind::ServerHello)
                Greeted.insert(Message->ServerName);
        }
    });
    QVERIFY(StartServer(QStringLiteral("SRV-ONE")));
    QVERIFY(StartServer(QStringLiteral("SRV-TWO")));
    QTRY_COMPARE_WITH_TIMEOUT(Greeted.size(), 2, 15000);

    TBoxWatcher Boxes;
    TfrmMain Form;
    Form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Form));

    QElapsedTimer Clock;
    qint64 BoxAfter = -1;
    QStringList RowsAtBox;
    Boxes.Expect([&](QMessageBox*) {
        BoxAfter = Clock.elapsed();
        for (int Row = 0; Row < Form.grdServers->RowCount(); ++Row)
            RowsAtBox << Form.grdServers->Cell(Row, 0) + '|' + Form.grdServers->Cell(Row, 1) + '|' +
                             Form.grdServers->Cell(Row, 2);
    });
    Clock.start();
    QTest::mouseClick(Form.btnScan, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Form.grdServers->RowCount(), 2, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(BoxAfter >= 0, 40000);
    qInfo("completion box after %lld ms", BoxAfter);

    RowsAtBox.sort();
    QCOMPARE(RowsAtBox, (QStringList{"SRV-ONE|198.18.0.1|15350", "SRV-TWO|198.18.0.1|15350"}));
    QCOMPARE(Boxes.Seen().size(), 1);
    QCOMPARE(Boxes.Seen()[0].Title, QStringLiteral("Information"));
    QCOMPARE(Boxes.Seen()[0].Text, QStringLiteral("Server scan has completed."));
    // 31 ticks of a coarse 1000 ms timer.
    QVERIFY2(BoxAfter > 29500 && BoxAfter < 34000, qPrintable(QString::number(BoxAfter)));
    QCOMPARE(Form.Aloha(), nullptr);
    QVERIFY(Form.btnScan->isEnabled());

    const QDir Logs(
        FState.filePath(QStringLiteral("Ternwick Software/Quillory 5/WorkstationLogs")));
    const QStringList Files = Logs.entryList({QStringLiteral("Aloha-*.logfile")}, QDir::Files);
    QCOMPARE(Files.size(), 1);
    QVERIFY(QRegularExpression(QStringLiteral("^Aloha-\\d{4}-\\d{2}-\\d{2}\\.logfile$"))
                .match(Files[0])
                .hasMatch());
    QFile Log(Logs.filePath(Files[0]));
    QVERIFY(Log.open(QIODevice::ReadOnly));
    const QString Text = AnsiDecode(Log.readAll());
    QVERIFY2(Text.contains(QStringLiteral("Broadcasting on 255.255.255.255;")), qPrintable(Text));
    QVERIFY2(Text.contains(QStringLiteral("Broadcasting on 198.18.0.255;")), qPrintable(Text));
}

void TEndToEndTest::cleanupTestCase() {
    for (auto& Server : FServers) {
        Server->terminate();
        if (!Server->waitForFinished(5000))
            Server->kill();
        Server->waitForFinished(2000);
    }
}

QTEST_MAIN(TEndToEndTest)
#include "tst_endtoend.moc"
