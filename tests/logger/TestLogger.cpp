// The logger's rules (stripping, entry texts), its file writing and its debug copy.

#include "Errors.h"
#include "FixedClock.h"
#include "Logger.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <cstring>

namespace {

QString Reason(int Error) {
    return QString::fromLocal8Bit(std::strerror(Error));
}

// A file handler with the plainest possible line, to watch the writing alone.
class TValueLineHandler : public TLoggerCSVOutputHandler {
public:
    using TLoggerCSVOutputHandler::TLoggerCSVOutputHandler;
    QString GetEntryText(const TLoggerOutputInformation& Information) const override {
        return Information.ValueOutput + QStringLiteral("\r\n");
    }
};

QStringList CapturedDebug;

void CaptureDebug(QtMsgType Type, const QMessageLogContext& Context, const QString& Message) {
    if (Type == QtDebugMsg && qstrcmp(Context.category, "lanfinder.log.debugoutput") == 0)
        CapturedDebug.append(Message);
}

// Collects the debug copies while it lives; the category is switched on for it.
class TDebugCapture {
public:
    explicit TDebugCapture(bool Enable) {
        CapturedDebug.clear();
        if (Enable)
            QLoggingCategory::setFilterRules(QStringLiteral("lanfinder.log.debugoutput=true"));
        FPrevious = qInstallMessageHandler(CaptureDebug);
    }
    ~TDebugCapture() {
        qInstallMessageHandler(FPrevious);
        QLoggingCategory::setFilterRules(QString());
    }

private:
    QtMessageHandler FPrevious;
};

} // namespace

class TestLogger : public QObject {
    Q_OBJECT

private slots:
    void stripHTML_data();
    void stripHTML();
    void memoryUsageText_data();
    void memoryUsageText();
    void systemInformationText_data();
    void systemInformationText();
    void levelNames();
    void systemClockReadsLocalTime();

    void appendsWithoutTruncating();
    void writeFailureCarriesReason_data();
    void writeFailureCarriesReason();

    void debugCopyIsOffByDefault();
    void debugCopyJoinsStrippedOutputs();
    void debugCopyGoesOutBeforeTheFileFails();
};

void TestLogger::stripHTML_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stripped");

    QTest::newRow("text without tags stays") << "plain; text"
                                             << "plain; text";
    QTest::newRow("empty text stays empty") << ""
                                            << "";
    QTest::newRow("a bold pair goes, its content stays") << "<b>ok</b>"
                                                         << "ok";
    QTest::newRow("a line-break tag becomes a blank") << "one<BR>two"
                                                      << "one two";
    QTest::newRow("line-break tags in any case") << "a<br>b<Br/>c<bR/>d"
                                                 << "a b c d";
    QTest::newRow("a rule tag becomes a blank") << "a<hr>b<HR>c"
                                                << "a b c";
    QTest::newRow("two adjacent breaks, two blanks") << "a<BR><BR>b"
                                                     << "a  b";
    QTest::newRow("break tag with a blank inside is an ordinary tag") << "a<BR />b"
                                                                      << "ab";
    QTest::newRow("a < without > keeps the rest") << "ab <c d"
                                                  << "ab <c d";
    QTest::newRow("text before an open < is kept once") << "x<b>y</b> 1 < 2"
                                                        << "xy 1 < 2";
    QTest::newRow("a stray > before tags stays") << "a > b <i>c</i>"
                                                 << "a > b c";
    QTest::newRow("a tag ends at the first >") << "<a<b>c>"
                                               << "c>";
    QTest::newRow("an empty tag goes") << "a<>b"
                                       << "ab";
    QTest::newRow("entities are not decoded") << "&amp;&lt;b&gt;"
                                              << "&amp;&lt;b&gt;";
}

void TestLogger::stripHTML() {
    QFETCH(QString, text);
    QFETCH(QString, stripped);
    QCOMPARE(StripHTML(text), stripped);
}

void TestLogger::memoryUsageText_data() {
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("decimalPoint");
    QTest::addColumn<QString>("text");

    const quint64 K = 1024;
    QTest::newRow("nothing") << quint64(0) << "."
                             << "Memory usage: 0 Bytes";
    QTest::newRow("1023 stays in bytes") << quint64(1023) << "."
                                         << "Memory usage: 1023 Bytes";
    QTest::newRow("1024 is one KB") << K << "."
                                    << "Memory usage: 1.00 KB";
    QTest::newRow("1536 is 1.50 KB") << quint64(1536) << "."
                                     << "Memory usage: 1.50 KB";
    QTest::newRow("just under a MB") << K * K - 1 << "."
                                     << "Memory usage: 1024.00 KB";
    QTest::newRow("a MB and a half") << K * K * 3 / 2 << "."
                                     << "Memory usage: 1.50 MB";
    QTest::newRow("largest 32-bit count") << quint64(0xFFFFFFFF) << "."
                                          << "Memory usage: 4.00 GB";
    QTest::newRow("a TB") << K * K * K * K << "."
                          << "Memory usage: 1.00 TB";
    QTest::newRow("TB is the last unit") << K * K * K * K * K << "."
                                         << "Memory usage: 1024.00 TB";
    QTest::newRow("the host's decimal separator") << quint64(1536) << ","
                                                  << "Memory usage: 1,50 KB";
}

void TestLogger::memoryUsageText() {
    QFETCH(quint64, bytes);
    QFETCH(QString, decimalPoint);
    QFETCH(QString, text);
    QCOMPARE(MemoryUsageText(bytes, decimalPoint), text);
}

void TestLogger::systemInformationText_data() {
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("kernel");
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<QString>("text");

    QTest::newRow("distribution kernel on x86_64")
        << "Debian GNU/Linux 12 (bookworm)"
        << "6.1.0-18-amd64"
        << "x86_64"
        << "Debian GNU/Linux 12 (bookworm) (Version 6.1, Build 0, 64-bit Edition)";
    QTest::newRow("third number is the build")
        << "Ubuntu 22.04"
        << "5.15.167.4-microsoft-standard-WSL2"
        << "x86_64"
        << "Ubuntu 22.04 (Version 5.15, Build 167, 64-bit Edition)";
    QTest::newRow("two-part release has build 0")
        << "Arch Linux"
        << "6.8-rc3"
        << "x86_64"
        << "Arch Linux (Version 6.8, Build 0, 64-bit Edition)";
    QTest::newRow("anything but x86_64 is the 32-bit edition")
        << "Debian"
        << "6.1.0"
        << "arm64"
        << "Debian (Version 6.1, Build 0, 32-bit Edition)";
    QTest::newRow("i386 is the 32-bit edition") << "Debian"
                                                << "4.19.0"
                                                << "i386"
                                                << "Debian (Version 4.19, Build 0, 32-bit Edition)";
    QTest::newRow("a place marker in the name stays literal")
        << "Odd %1 %2"
        << "6.1.2"
        << "x86_64"
        << "Odd %1 %2 (Version 6.1, Build 2, 64-bit Edition)";
    QTest::newRow("unreadable release gives zeros")
        << "Unknown"
        << ""
        << "x86_64"
        << "Unknown (Version 0.0, Build 0, 64-bit Edition)";
}

void TestLogger::systemInformationText() {
    QFETCH(QString, product);
    QFETCH(QString, kernel);
    QFETCH(QString, architecture);
    QFETCH(QString, text);
    QCOMPARE(SystemInformationText(product, kernel, architecture), text);
}

void TestLogger::levelNames() {
    QCOMPARE(LogLevelName(TLogLevel::Info), QStringLiteral("Info"));
    QCOMPARE(LogLevelName(TLogLevel::Error), QStringLiteral("Error"));
    QCOMPARE(LogLevelName(TLogLevel::Warning), QStringLiteral("Warning"));
    QCOMPARE(LogLevelName(TLogLevel::Debug), QStringLiteral("Debug"));
    QCOMPARE(LogLevelName(TLogLevel::None), QString());
}

void TestLogger::systemClockReadsLocalTime() {
    const QDateTime Before = QDateTime::currentDateTime();
    const TLocalDateTime Now = TClock::Now();
    const QDateTime After = QDateTime::currentDateTime();
    const QDateTime Read(Now.Date, Now.Time);
    // Whole seconds are compared: the reading may sit on either side of a tick.
    QVERIFY2(Read.secsTo(Before) <= 1 && Read.secsTo(After) >= -1,
             qPrintable(Read.toString(Qt::ISODateWithMs)));
}

void TestLogger::appendsWithoutTruncating() {
    QTemporaryDir Dir;
    const QString Path = Dir.filePath("day.logfile");
    {
        QFile Earlier(Path);
        QVERIFY(Earlier.open(QIODevice::WriteOnly));
        Earlier.write("earlier run\r\n");
    }
    TLogger Logger;
    Logger.RegisterOutputHandler(std::make_unique<TValueLineHandler>(Path));
    Logger.Info(QStringLiteral("one"));
    Logger.Info(QStringLiteral("two"));

    QFile File(Path);
    QVERIFY(File.open(QIODevice::ReadOnly));
    QCOMPARE(File.readAll(), QByteArray("earlier run\r\none\r\ntwo\r\n"));
}

void TestLogger::writeFailureCarriesReason_data() {
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reason");

    QTest::newRow("folder missing") << ""
                                    << "missing/day.logfile" << Reason(ENOENT);
    QTest::newRow("a file where the folder should be") << "blocker"
                                                       << "blocker/day.logfile" << Reason(ENOTDIR);
    QTest::newRow("a folder where the file should be") << ""
                                                       << "." << Reason(EISDIR);
    QTest::newRow("a full disk") << ""
                                 << "/dev/full" << Reason(ENOSPC);
}

void TestLogger::writeFailureCarriesReason() {
    QFETCH(QString, blocker);
    QFETCH(QString, file);
    QFETCH(QString, reason);

    QTemporaryDir Dir;
    if (!blocker.isEmpty()) {
        QFile Blocker(Dir.filePath(blocker));
        QVERIFY(Blocker.open(QIODevice::WriteOnly));
    }
    const QString Path = QDir::isAbsolutePath(file) ? file : Dir.filePath(file);
    if (Path == QLatin1String("/dev/full") && !QFile::exists(Path))
        QSKIP("no /dev/full here");

    TLogger Logger;
    Logger.RegisterOutputHandler(std::make_unique<TValueLineHandler>(Path));
    try {
        Logger.Error(QStringLiteral("entry"));
        QFAIL("the entry was reported as written");
    } catch (const ELogWriteError& E) {
        QVERIFY2(E.Message().endsWith(reason), qPrintable(E.Message()));
        QVERIFY2(E.Message().contains(Path), qPrintable(E.Message()));
    }
}

void TestLogger::debugCopyIsOffByDefault() {
    const TClockOverride Clock(LocalTime(2018, 3, 5, 14, 7, 9));
    const TDebugCapture Capture(false);
    TLogger Logger;
    Logger.Info(QStringLiteral("quiet"));
    QVERIFY(CapturedDebug.isEmpty());
}

void TestLogger::debugCopyJoinsStrippedOutputs() {
    const TClockOverride Clock(LocalTime(2018, 3, 5, 14, 7, 9));
    const TDebugCapture Capture(true);
    TLogger Logger;
    Logger.Warning(QStringLiteral("<b>SRV</b><BR>forged"));
    Logger.LogMemoryUsage();
    QCOMPARE(CapturedDebug.size(), 2);
    QCOMPARE(CapturedDebug[0], QStringLiteral("2018-03-05 14:07:09WarningSRV forged"));
    QVERIFY2(CapturedDebug[1].startsWith(QStringLiteral("2018-03-05 14:07:09Memory usage: ")),
             qPrintable(CapturedDebug[1]));
}

void TestLogger::debugCopyGoesOutBeforeTheFileFails() {
    const TClockOverride Clock(LocalTime(2018, 3, 5, 14, 7, 9));
    const TDebugCapture Capture(true);
    QTemporaryDir Dir;
    TLogger Logger;
    Logger.RegisterOutputHandler(
        std::make_unique<TValueLineHandler>(Dir.filePath("missing/day.logfile")));
    QVERIFY_THROWS_EXCEPTION(ELogWriteError, Logger.Error(QStringLiteral("lost")));
    QCOMPARE(CapturedDebug, QStringList{QStringLiteral("2018-03-05 14:07:09Errorlost")});
}

QTEST_GUILESS_MAIN(TestLogger)
#include "TestLogger.moc"
