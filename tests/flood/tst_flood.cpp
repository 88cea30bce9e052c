// A real scan while lab_sender floods the lab with mixed datagrams: random
// bytes, NUL-laden text, 65,507-byte datagrams, every kind of message with
// random fields, and valid responses from 1,000 names over and over. The real
// window, endpoint and one-second timer; only the lab's network.
//
// LANFINDER_FLOOD_COUNT sets how many datagrams are sent (100,000 unless set;
// the full run is 1,000,000).

#include "LabScan.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#define LANFINDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LANFINDER_ASAN 1
#endif
#endif

#ifdef LANFINDER_ASAN
// The sanitizer keeps up to 256 MB of freed blocks resident so that a late use
// is caught; a flood frees that much within seconds, and the memory figure
// would measure the quarantine instead of the program. ASAN_OPTIONS still wins.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}
#endif

using namespace labscan;

namespace {

constexpr int FloodNames = 1000;
constexpr qint64 DefaultCount = 100000;
constexpr qint64 MemoryAllowanceKb = 50 * 1024;

qint64 FloodCount() {
    bool Ok = false;
    const qint64 Count = qEnvironmentVariable("LANFINDER_FLOOD_COUNT").toLongLong(&Ok);
    return Ok && Count > 0 ? Count : DefaultCount;
}

QString SenderPath() {
    const QString Given = qEnvironmentVariable("LANFINDER_LAB_SENDER");
    return Given.isEmpty() ? QDir(BinDir()).filePath(QStringLiteral("lab_sender")) : Given;
}

// The kernel's count of UDP datagrams dropped for a full receive buffer.
qint64 RcvbufErrors() {
    QFile Snmp(QStringLiteral("/proc/net/snmp"));
    if (!Snmp.open(QIODevice::ReadOnly))
        return -1;
    QList<QByteArray> Header;
    for (const QByteArray& Line : Snmp.readAll().split('\n')) {
        if (!Line.startsWith("Udp: "))
            continue;
        const QList<QByteArray> Fields = Line.simplified().split(' ');
        if (Header.isEmpty()) {
            Header = Fields;
            continue;
        }
        const qsizetype At = Header.indexOf("RcvbufErrors");
        return At < 0 ? -1 : Fields.value(At).toLongLong();
    }
    return -1;
}

// Records every tick of the window's timer before the window handles it.
class TTickRecorder : public QObject {
public:
    TTickRecorder(TfrmMain& Form, const QElapsedTimer& Clock) : FForm(Form), FClock(Clock) {
        Form.tmrScan->installEventFilter(this);
    }
    struct TTick {
        qint64 At;
        int GaugeBefore;
    };
    QList<TTick> Ticks;

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Watched == FForm.tmrScan && Event->type() == QEvent::Timer)
            Ticks.append({FClock.elapsed(), FForm.ProgressCircle->Value()});
        return false;
    }

private:
    TfrmMain& FForm;
    const QElapsedTimer& FClock;
};

// Samples VmRSS on its own thread, so a blocked event loop can't hide a peak.
class TPeakResident {
public:
    TPeakResident()
        : FThread([this] {
              while (!FStop) {
                  FPeak = std::max<qint64>(FPeak, ResidentKb());
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }) {}
    ~TPeakResident() {
        FStop = true;
        FThread.join();
    }
    qint64 Peak() const { return std::max<qint64>(FPeak, ResidentKb()); }

private:
    std::atomic<bool> FStop{false};
    std::atomic<qint64> FPeak{0};
    std::thread FThread;
};

} // namespace

class TFloodTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void scanSurvivesFlood();

private:
    qint64 IdleScanResident();
    QTemporaryDir FState;
};

void TFloodTest::initTestCase() {
    QVERIFY2(QFileInfo(SenderPath()).isExecutable(), qPrintable(SenderPath()));
    QVERIFY(FState.isValid());
    // The window's log, a line for every valid response, goes to a throw-away folder.
    qputenv("XDG_STATE_HOME", FState.path().toLocal8Bit());
}

// The yardstick: the peak resident memory of a scan that hears nothing.
qint64 TFloodTest::IdleScanResident() {
    const TPeakResident Resident;
    TBoxWatcher Boxes;
    TfrmMain Form;
    Form.show();
    if (!QTest::qWaitForWindowExposed(&Form))
        return 0;
    QTest::mouseClick(Form.btnScan, Qt::LeftButton);
    QTest::qWait(1500);
    FinishScan(Form, Boxes);
    return Resident.Peak();
}

void TFloodTest::scanSurvivesFlood() {
    const qint64 Count = FloodCount();
    const qint64 IdleKb = IdleScanResident();
    QVERIFY(IdleKb > 0);

    const qint64 DropsBefore = RcvbufErrors();
    const TPeakResident Resident;
    TBoxWatcher Boxes;
    TfrmMain Form;
    Form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Form));
    QElapsedTimer Clock;
    const TTickRecorder Recorder(Form, Clock);
    qint64 CompletedAt = -1;
    qsizetype TicksAtCompletion = -1;
    Boxes.Expect([&](QMessageBox*) {
        CompletedAt = Clock.elapsed();
        TicksAtCompletion = Recorder.Ticks.size();
    });

    Clock.start();
    QTest::mouseClick(Form.btnScan, Qt::LeftButton);
    QVERIFY(Form.Aloha());
    QProcess Sender;
    Sender.setProcessChannelMode(QProcess::SeparateChannels);
    Sender.start(SenderPath(),
                 {QStringLiteral("--mix"), QStringLiteral("flood"), QStringLiteral("--count"),
                  QString::number(Count), QStringLiteral("--names"), QString::number(FloodNames)});
    QVERIFY(Sender.waitForStarted(10000));
    // The sender takes seconds; the window's loop must go on meanwhile.
    QVERIFY(QTest::qWaitFor([&] { return Sender.state() == QProcess::NotRunning; }, 600000));
    const qint64 FloodEndedAt = Clock.elapsed();
    QCOMPARE(Sender.exitStatus(), QProcess::NormalExit);
    QVERIFY2(Sender.exitCode() == 0, Sender.readAllStandardError().constData());
    const QJsonObject Report = QJsonDocument::fromJson(Sender.readAllStandardOutput()).object();
    QCOMPARE(Report.value(QStringLiteral("sent")).toInteger(), Count);

    QVERIFY(QTest::qWaitFor([&] { return CompletedAt >= 0; }, 45000));
    const qint64 DropsAfter = RcvbufErrors();
    const qint64 PeakKb = Resident.Peak();

    // The countdown: one tick a second, 30 down to 0, completion on the 31st.
    QCOMPARE(TicksAtCompletion, qsizetype(31));
    qint64 WorstDelay = 0;
    qint64 Previous = 0;
    for (qsizetype Tick = 0; Tick < Recorder.Ticks.size(); ++Tick) {
        QCOMPARE(Recorder.Ticks[Tick].GaugeBefore, 30 - int(Tick));
        WorstDelay = std::max(WorstDelay, Recorder.Ticks[Tick].At - Previous - 1000);
        Previous = Recorder.Ticks[Tick].At;
    }
    QCOMPARE(Boxes.Seen().size(), 1);
    QCOMPARE(Boxes.Seen()[0].Text, Completed);
    QCOMPARE(Form.Aloha(), nullptr);

    // Every one of the names, each in one row; whatever junk was listed besides
    // is listed once too.
    const QStringList Listed = Names(Form);
    const QSet<QString> Distinct(Listed.cbegin(), Listed.cend());
    QCOMPARE(Distinct.size(), Listed.size());
    QStringList Missing;
    for (int Index = 0; Index < FloodNames; ++Index) {
        const QString Name = QStringLiteral("SRV-%1").arg(Index, 4, 10, QLatin1Char('0'));
        if (!Distinct.contains(Name))
            Missing << Name;
    }
    QVERIFY2(Missing.isEmpty(), qPrintable(QStringLiteral("%1 names missing, first %2")
                                               .arg(Missing.size())
                                               .arg(Missing.value(0))));

    const qsizetype Logged =
        LogLines(WorkstationLogs(FState.path()), QStringLiteral("Aloha-*.logfile"))
            .filter(QStringLiteral(";Info;Responding to Find Server Request.;"))
            .size();
    qInfo("flood: %lld datagrams in %.2f s (%.0f/s), ended %lld ms into the scan; %lld kernel "
          "drops; %lld responses accepted; %lld rows",
          Count, Report.value(QStringLiteral("seconds")).toDouble(),
          Report.value(QStringLiteral("achieved_rate")).toDouble(), FloodEndedAt,
          DropsAfter - DropsBefore, qint64(Logged), qint64(Listed.size()));
    qInfo("ticks: worst delay %lld ms, completion after %lld ms", WorstDelay, CompletedAt);
    qInfo("resident: idle scan %lld kB, flood scan peak %lld kB, delta %lld kB", IdleKb, PeakKb,
          PeakKb - IdleKb);

    // A tick late by a whole interval is a second the gauge stood still.
    QVERIFY2(WorstDelay < 1000, qPrintable(QString::number(WorstDelay)));
    QVERIFY2(PeakKb - IdleKb <= MemoryAllowanceKb, qPrintable(QString::number(PeakKb - IdleKb)));
}

LANFINDER_LAB_WIDGETS_TEST_MAIN(TFloodTest)
#include "tst_flood.moc"
