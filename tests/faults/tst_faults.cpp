// Scans while the surroundings fail, inside the network lab: the real window
// and endpoint, "aloha serve" hosts that answer. Whatever breaks, the servers
// that answered stay listed, the scan completes on its 31st tick, and nothing
// that was there before is lost. Ticks are driven by hand where real time adds
// nothing.

#include "FixedClock.h"
#include "LabScan.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace labscan;

namespace {

const QStringList Servers{QStringLiteral("SRV-ONE"), QStringLiteral("SRV-TWO")};
const QRegularExpression WholeLine(QStringLiteral(
    "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d[^;\\r\\n]*;[A-Za-z]+;[^\\r\\n]*;\\r\\n$"));

QStringList Sorted(QStringList List) {
    List.sort();
    return List;
}

bool RunIp(const QStringList& Arguments) {
    QProcess Ip;
    Ip.setProcessChannelMode(QProcess::ForwardedChannels);
    Ip.start(QStringLiteral("ip"), Arguments);
    return Ip.waitForFinished(10000) && Ip.exitStatus() == QProcess::NormalExit &&
           Ip.exitCode() == 0;
}

bool LabLinkExists() {
    QProcess Ip;
    Ip.start(QStringLiteral("ip"), {QStringLiteral("-o"), QStringLiteral("link"),
                                    QStringLiteral("show"), QStringLiteral("lab0")});
    return Ip.waitForFinished(10000) && Ip.exitCode() == 0;
}

// The lab's LAN as scripts/netlab builds it, for the tests after the one that
// pulls it out.
bool RestoreLabLink() {
    if (LabLinkExists())
        return true;
    const bool Built =
        RunIp({"link", "add", "lab0", "type", "veth", "peer", "name", "lab1"}) &&
        RunIp({"addr", "add", "198.18.0.1/24", "broadcast", "198.18.0.255", "dev", "lab0"}) &&
        RunIp({"link", "set", "lab0", "up"}) && RunIp({"link", "set", "lab1", "up"}) &&
        RunIp({"route", "add", "default", "dev", "lab0"});
    return Built && QTest::qWaitFor(
                        [] {
                            QProcess Ip;
                            Ip.start(QStringLiteral("ip"), {"-o", "link", "show", "lab0"});
                            Ip.waitForFinished(5000);
                            return Ip.readAllStandardOutput().contains("state UP");
                        },
                        5000);
}

// A mount made at Path can reach no other namespace: the mount that holds Path
// propagates to no peer (the lab's namespace is made with private propagation).
bool MountStaysHere(const QString& Path) {
    QFile Info(QStringLiteral("/proc/self/mountinfo"));
    if (!Info.open(QIODevice::ReadOnly))
        return false;
    QString Best;
    QByteArray BestLine;
    for (const QByteArray& Line : Info.readAll().split('\n')) {
        const QList<QByteArray> Fields = Line.split(' ');
        if (Fields.size() < 7)
            continue;
        const QString Point = QString::fromLocal8Bit(Fields[4]);
        const bool Holds = Point == QLatin1String("/") || Path == Point ||
                           Path.startsWith(Point + QLatin1Char('/'));
        if (Holds && Point.size() >= Best.size()) {
            Best = Point;
            BestLine = Line;
        }
    }
    return !BestLine.isEmpty() && !BestLine.contains(" shared:") && !BestLine.contains(" master:");
}

// Fills the file system at Folder up to the last page.
bool FillLeavingOnePage(const QString& Folder) {
    const QByteArray Path = QFile::encodeName(Folder + QStringLiteral("/filler"));
    const int Fd = ::open(Path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (Fd < 0)
        return false;
    const QByteArray Block(4096, 'f');
    off_t Size = 0;
    for (;;) {
        const ssize_t Written = ::write(Fd, Block.constData(), Block.size());
        if (Written <= 0)
            break;
        Size += Written;
    }
    const bool Full = errno == ENOSPC && Size >= 4096 && ::ftruncate(Fd, Size - 4096) == 0;
    ::close(Fd);
    return Full;
}

} // namespace

class TFaultsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void logFolderIsAFile();
    void logDiskFull();
    void portHeldWithoutAddressReuse();
    void clockSetBackADay();
    void labLinkRemovedMidScan();

private:
    // Presses Scan and waits until every server has answered.
    bool StartScanListing(TfrmMain& Form, const QStringList& Expected);

    std::unique_ptr<QTemporaryDir> FState;
    TServerHosts FHosts;
    QString FMounted;
};

void TFaultsTest::initTestCase() {
    QVERIFY(QFileInfo(QDir(BinDir()).filePath(QStringLiteral("aloha"))).isExecutable());
}

void TFaultsTest::init() {
    // A fresh state folder each time: the window's and the servers' logs.
    FState = std::make_unique<QTemporaryDir>();
    QVERIFY(FState->isValid());
    qputenv("XDG_STATE_HOME", FState->path().toLocal8Bit());
}

void TFaultsTest::cleanup() {
    FHosts.Stop();
    if (!FMounted.isEmpty()) {
        ::umount2(QFile::encodeName(FMounted).constData(), MNT_DETACH);
        FMounted.clear();
    }
    QVERIFY(RestoreLabLink());
    FState.reset();
}

bool TFaultsTest::StartScanListing(TfrmMain& Form, const QStringList& Expected) {
    Form.show();
    if (!QTest::qWaitForWindowExposed(&Form))
        return false;
    QTest::mouseClick(Form.btnScan, Qt::LeftButton);
    return Form.Aloha() &&
           QTest::qWaitFor([&] { return Sorted(Names(Form)) == Sorted(Expected); }, 5000);
}

void TFaultsTest::logFolderIsAFile() {
    const QString Folder = WorkstationLogs(FState->path());
    QVERIFY(QDir().mkpath(QFileInfo(Folder).path()));
    QFile Blocker(Folder);
    QVERIFY(Blocker.open(QIODevice::WriteOnly));
    Blocker.write("whatever was here stays\n");
    Blocker.close();
    QVERIFY(FHosts.Start(Servers));

    TBoxWatcher Boxes;
    TfrmMain Form;
    QVERIFY(StartScanListing(Form, Servers));
    FinishScan(Form, Boxes);

    QCOMPARE(Sorted(Names(Form)), Servers);
    QCOMPARE(Boxes.Seen().size(), 1);
    QCOMPARE(Boxes.Seen()[0].Text, Completed);
    QCOMPARE(Form.Aloha(), nullptr);
    QVERIFY(QFileInfo(Folder).isFile());
    QVERIFY(Blocker.open(QIODevice::ReadOnly));
    QCOMPARE(Blocker.readAll(), QByteArray("whatever was here stays\n"));
}

void TFaultsTest::logDiskFull() {
    const QString Folder = WorkstationLogs(FState->path());
    QVERIFY(QDir().mkpath(Folder));
    if (!MountStaysHere(Folder))
        QSKIP("a mount here would propagate out of the lab's mount namespace");
    if (::mount("tmpfs", QFile::encodeName(Folder).constData(), "tmpfs",
                MS_NOSUID | MS_NODEV | MS_NOEXEC, "size=64k,mode=0700") != 0)
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs in the lab: ") +
                         QString::fromLocal8Bit(std::strerror(errno))));
    FMounted = Folder;
    // Room for one page of log: the day's file fills up in the middle of a line.
    QVERIFY(FillLeavingOnePage(Folder));
    QVERIFY(FHosts.Start(Servers));

    TBoxWatcher Boxes;
    TfrmMain Form;
    QVERIFY(StartScanListing(Form, Servers));
    // Every find response is a log line: far more than the page holds.
    for (int Response = 0; Response < 150; ++Response)
        QVERIFY(SendToLab(AnsiEncode(BuildFindServerResponseMessage(
            Application, Servers[Response % 2], QStringLiteral("198.18.0.1"), 15350))));
    QTest::qWait(300);
    FinishScan(Form, Boxes);

    QCOMPARE(Sorted(Names(Form)), Servers);
    QCOMPARE(Boxes.Seen().size(), 1);
    QCOMPARE(Boxes.Seen()[0].Text, Completed);
    // What did fit is whole lines: a full disk must not leave half an entry
    // for the next one to be glued to.
    const QStringList Lines = LogLines(Folder, QStringLiteral("Aloha-*.logfile"));
    QVERIFY(!Lines.isEmpty());
    for (const QString& Line : Lines)
        QVERIFY2(WholeLine.match(Line).hasMatch(), qPrintable(Line.toUtf8().toPercentEncoding()));
}

void TFaultsTest::portHeldWithoutAddressReuse() {
    // Another program's socket on the port, without address reuse: no one else
    // can bind it, reuse or not.
    const int Holder = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QVERIFY(Holder >= 0);
    sockaddr_in Any{};
    Any.sin_family = AF_INET;
    Any.sin_port = htons(AlohaPort);
    Any.sin_addr.s_addr = htonl(INADDR_ANY);
    QVERIFY(::bind(Holder, reinterpret_cast<const sockaddr*>(&Any), sizeof Any) == 0);

    TBoxWatcher Boxes;
    {
        TfrmMain Form;
        Form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&Form));
        QTest::mouseClick(Form.btnScan, Qt::LeftButton);
        QVERIFY(Form.Aloha());
        QVERIFY(SendToLab(AnsiEncode(BuildServerAnnounceMessage(
            Application, QStringLiteral("198.18.0.9"), 15350, QStringLiteral("SRV-UNHEARD")))));
        QTest::qWait(200);
        FinishScan(Form, Boxes);

        QCOMPARE(Form.grdServers->RowCount(), 0);
        QCOMPARE(Form.grdServers->EmptyText(), NoneFound);
        // A port that can't be opened is logged, not put in front of the user.
        QCOMPARE(Boxes.Seen().size(), 1);
        QCOMPARE(Boxes.Seen()[0].Title, QStringLiteral("Information"));
        QCOMPARE(Boxes.Seen()[0].Text, Completed);
        QVERIFY(Form.btnScan->isEnabled());
    }
    ::close(Holder);

    const QStringList Lines = LogLines(WorkstationLogs(FState->path()));
    QCOMPARE(Lines.filter(QStringLiteral(";Error;Error when starting communication: ")).size(), 1);
    QCOMPARE(Lines.filter(QStringLiteral("Broadcasting on")).size(), 0);
}

void TFaultsTest::clockSetBackADay() {
    QVERIFY(FHosts.Start(Servers));
    TClockOverride Clock(LocalTime(2026, 3, 10, 12, 0, 0));
    TBoxWatcher Boxes;
    TfrmMain Form;
    QVERIFY(StartScanListing(Form, Servers));
    QTest::qWait(300); // the second copies of the answers

    Clock.Set(LocalTime(2026, 3, 9, 12, 0, 1));
    const auto SendLate = [] {
        return SendToLab(AnsiEncode(BuildFindServerResponseMessage(
            Application, QStringLiteral("SRV-LATE"), QStringLiteral("198.18.0.7"), 15350)));
    };
    for (int Response = 0; Response < 3; ++Response)
        QVERIFY(SendLate());
    QElapsedTimer Waited;
    Waited.start();
    while (Form.grdServers->RowCount() < 3 && !Waited.hasExpired(5000)) {
        QTest::qWait(500);
        QVERIFY(SendLate());
    }
    // Says whether the scan was still open when the late server went unheard.
    QVERIFY2(Form.grdServers->RowCount() == 3,
             qPrintable(QStringLiteral("counter %1, endpoint %2, rows %3")
                            .arg(Form.Counter())
                            .arg(Form.Aloha() ? "open" : "gone")
                            .arg(Names(Form).join(QLatin1Char(',')))));
    QTest::qWait(200);
    FinishScan(Form, Boxes);
    QCOMPARE(Boxes.Seen().size(), 1);

    const QString Folder = WorkstationLogs(FState->path());
    const QStringList Today = LogLines(Folder, QStringLiteral("Aloha-2026-03-10.logfile"));
    const QStringList Yesterday = LogLines(Folder, QStringLiteral("Aloha-2026-03-09.logfile"));
    QCOMPARE(QDir(Folder).entryList(QDir::Files).size(), 2);
    QVERIFY(Today.filter(QStringLiteral("Broadcasting on")).size() >= 1);
    QVERIFY(Today.filter(QStringLiteral("Responding to Find Server Request.")).size() >= 2);
    QVERIFY(Yesterday.filter(QStringLiteral("Responding to Find Server Request.")).size() >= 3);
    for (const QString& Line : Today)
        QVERIFY2(Line.startsWith(QStringLiteral("2026-03-10 12:00:00;")), qPrintable(Line));
    for (const QString& Line : Yesterday)
        QVERIFY2(Line.startsWith(QStringLiteral("2026-03-09 12:00:01;")), qPrintable(Line));
}

void TFaultsTest::labLinkRemovedMidScan() {
    QVERIFY(FHosts.Start(Servers));
    TBoxWatcher Boxes;
    TfrmMain Form;
    QVERIFY(StartScanListing(Form, Servers));

    QVERIFY(RunIp({"link", "del", "lab0"}));
    QVERIFY(!LabLinkExists());
    // The real timer goes on: the countdown does not hang on a vanished link.
    const int Before = Form.Counter();
    QVERIFY(QTest::qWaitFor([&] { return Form.Counter() <= Before - 2; }, 3500));
    QVERIFY(!SendToLab(AnsiEncode(BuildServerAnnounceMessage(
        Application, QStringLiteral("198.18.0.9"), 15350, QStringLiteral("SRV-GONE")))));
    FinishScan(Form, Boxes);
    QCOMPARE(Sorted(Names(Form)), Servers);
    QCOMPARE(Boxes.Seen().size(), 1);
    QCOMPARE(Boxes.Seen()[0].Text, Completed);

    // A scan with no network at all: nothing to broadcast on, nothing heard,
    // the earlier rows kept.
    QTest::mouseClick(Form.btnScan, Qt::LeftButton);
    QVERIFY(Form.Aloha());
    FinishScan(Form, Boxes);
    QCOMPARE(Sorted(Names(Form)), Servers);
    QCOMPARE(Boxes.Seen().size(), 2);
    QCOMPARE(Boxes.Seen()[1].Text, Completed);
    const QStringList Lines = LogLines(WorkstationLogs(FState->path()));
    QVERIFY(
        Lines
            .filter(QStringLiteral(";Error;An error occurred when sending the Broadcast message: "))
            .size() >= 1);
}

LANFINDER_LAB_WIDGETS_TEST_MAIN(TFaultsTest)
#include "tst_faults.moc"
