// TActivityLog end to end: the exact bytes of the day's file, the daily files, the
// sharing of one file by several writers, and failures that must reach the caller.
//
// Run with "--writer COUNT TAG" the binary is one of the writer processes of
// twoProcessesShareOneFile instead.

#include "Errors.h"
#include "FixedClock.h"
#include "MyActivityLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <functional>

namespace {

const TLocalDateTime Stamp = LocalTime(2018, 3, 5, 14, 7, 9);

QString Reason(int Error) {
    return QString::fromLocal8Bit(std::strerror(Error));
}

// A long filler makes a torn line likely wherever a write is split.
QString WriterLine(const QString& Tag, int Index) {
    return QStringLiteral("writer %1 line %2 ").arg(Tag).arg(Index) + QString(300, u'x');
}

int RunWriter(int Count, const QString& Tag) {
    TActivityLog Log(QStringLiteral("WorkstationLogs"), QStringLiteral("Aloha"));
    for (int i = 0; i < Count; ++i)
        Log.AddLogEntry(WriterLine(Tag, i));
    return 0;
}

using TAdd = std::function<void(TActivityLog&, const QString&)>;

TAdd AddOperation(const QString& Name) {
    if (Name == u"Error")
        return [](TActivityLog& Log, const QString& S) { Log.AddErrorEntry(S); };
    if (Name == u"Warning")
        return [](TActivityLog& Log, const QString& S) { Log.AddWarningEntry(S); };
    if (Name == u"Debug")
        return [](TActivityLog& Log, const QString& S) { Log.AddDebugEntry(S); };
    return [](TActivityLog& Log, const QString& S) { Log.AddLogEntry(S); };
}

TActivityLog* ReentrantLog = nullptr;
QStringList CapturedDebug;

// Stands in for anything that logs while an entry is being written.
void LogFromDebugOutput(QtMsgType, const QMessageLogContext& Context, const QString& Message) {
    if (qstrcmp(Context.category, "lanfinder.log.debugoutput") != 0)
        return;
    CapturedDebug.append(Message);
    if (ReentrantLog)
        ReentrantLog->AddLogEntry(QStringLiteral("re-entered"));
}

} // namespace

class TestActivityLog : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FStateHome;
    std::unique_ptr<TClockOverride> FClock;

    QString Folder() const {
        return FStateHome->filePath(QStringLiteral("Ternwick Software/Quillory 5/WorkstationLogs"));
    }
    QString DayFile(QDate Date) const {
        return Folder() + u'/' + TActivityLog::LogFileName(QStringLiteral("Aloha"), Date);
    }
    static QByteArray Read(const QString& Path) {
        QFile File(Path);
        return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
    }
    static void Write(const QString& Path, const QByteArray& Bytes) {
        QFile File(Path);
        QVERIFY(File.open(QIODevice::WriteOnly));
        File.write(Bytes);
    }

private slots:
    void init();
    void cleanup();

    void folderPath_data();
    void folderPath();
    void constructionMakesTheFolderButNoFile();
    void fileName();

    void entryBytes_data();
    void entryBytes();
    void specialEntries();
    void appendsToAnEarlierFile();

    void rollOverAtMidnight();
    void clockSetBackADay();

    void inactiveLogWritesNothing();
    void reentrantEntryIsDropped();

    void twoObjectsShareOneFile();
    void twoProcessesShareOneFile();

    void unwritableFolderRaisesEveryTime_data();
    void unwritableFolderRaisesEveryTime();
};

void TestActivityLog::init() {
    FStateHome = std::make_unique<QTemporaryDir>();
    QVERIFY(FStateHome->isValid());
    qputenv("XDG_STATE_HOME", QFile::encodeName(FStateHome->path()));
    FClock = std::make_unique<TClockOverride>(Stamp);
}

void TestActivityLog::cleanup() {
    FClock.reset();
    FStateHome.reset();
}

void TestActivityLog::folderPath_data() {
    QTest::addColumn<QString>("documents");
    QTest::addColumn<QString>("folder");

    QTest::newRow("documents folder without a delimiter")
        << "/var/state"
        << "/var/state/Ternwick Software/Quillory 5/WorkstationLogs";
    QTest::newRow("documents folder ending in a delimiter")
        << "/var/state/"
        << "/var/state/Ternwick Software/Quillory 5/WorkstationLogs";
    QTest::newRow("no documents folder: from the root")
        << ""
        << "/Ternwick Software/Quillory 5/WorkstationLogs";
}

void TestActivityLog::folderPath() {
    QFETCH(QString, documents);
    QFETCH(QString, folder);
    QCOMPARE(TActivityLog::LogFolderPath(documents, QStringLiteral("WorkstationLogs")), folder);
}

void TestActivityLog::constructionMakesTheFolderButNoFile() {
    const TActivityLog Log(QStringLiteral("WorkstationLogs"), QStringLiteral("Aloha"));
    QCOMPARE(Log.LogFolder(), Folder());
    QVERIFY(Log.Active());
    QVERIFY(QFileInfo(Folder()).isDir());
    QVERIFY(QDir(Folder()).isEmpty());
}

void TestActivityLog::fileName() {
    QCOMPARE(TActivityLog::LogFileName(QStringLiteral("Aloha"), QDate(2018, 3, 5)),
             QStringLiteral("Aloha-2018-03-05.logfile"));
    QCOMPARE(TActivityLog::LogFileName(QStringLiteral("Aloha"), QDate(2018, 12, 31)),
             QStringLiteral("Aloha-2018-12-31.logfile"));
}

void TestActivityLog::entryBytes_data() {
    QTest::addColumn<QString>("level");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("line");

    const QByteArray At = "2018-03-05 14:07:09;";
    QTest::newRow("info") << "Info"
                          << "Broadcasting on 255.255.255.255"
                          << At + "Info;Broadcasting on 255.255.255.255;\r\n";
    QTest::newRow("error") << "Error"
                           << "Port in use" << At + "Error;Port in use;\r\n";
    QTest::newRow("warning") << "Warning"
                             << "w" << At + "Warning;w;\r\n";
    QTest::newRow("debug") << "Debug"
                           << "d" << At + "Debug;d;\r\n";
    QTest::newRow("empty text keeps both delimiters") << "Info"
                                                      << "" << At + "Info;;\r\n";
    QTest::newRow("a semicolon is not quoted") << "Info"
                                               << "a;b" << At + "Info;a;b;\r\n";
    QTest::newRow("CR LF joins the lines") << "Info"
                                           << "first\r\nsecond" << At + "Info;firstsecond;\r\n";
    QTest::newRow("lone LF and lone CR go") << "Info"
                                            << "a\nb\rc" << At + "Info;abc;\r\n";
    QTest::newRow("tags are stripped") << "Info"
                                       << "<b>ok</b>" << At + "Info;ok;\r\n";
    QTest::newRow("an open < keeps the rest") << "Info"
                                              << "x<b>y</b> 1 < 2" << At + "Info;xy 1 < 2;\r\n";
    QTest::newRow("Windows-1252 bytes for a non-ASCII name")
        << "Info" << QStringLiteral("Caf\u00e9 M\u00fcller \u20ac")
        << At + "Info;Caf\xe9 M\xfcller \x80;\r\n";
    QTest::newRow("? for what Windows-1252 lacks")
        << "Info" << QStringLiteral("\u03a9mega \U0001F600") << At + "Info;?mega ?;\r\n";
    QTest::newRow("a forged line in a server name stays one line")
        << "Info"
        << "Server announce from SRV<BR>2018-03-05 14:07:10;Error;Database lost<hr>x<Br/>y"
        << At + "Info;Server announce from SRV 2018-03-05 14:07:10;Error;Database lost x y;\r\n";
}

void TestActivityLog::entryBytes() {
    QFETCH(QString, level);
    QFETCH(QString, text);
    QFETCH(QByteArray, line);

    TActivityLog Log(QStringLiteral("WorkstationLogs"), QStringLiteral("Aloha"));
    AddOperation(level)(Log, text);
    QCOMPARE(Read(DayFile(Stamp.Date)), line);
}

void TestActivityLog::specialEntries() {
    TActivityLog Log(QStringLiteral("WorkstationLogs"), QStringLiteral("Aloha"));
    Log.AddSystemInformation();
    Log.AddMemoryUsage();

    const QStringList Lines =
        QString::fromLatin1(Read(DayFile(Stamp.Date))).split(QStringLiteral("\r\n"));
    QCOMPARE(Lines.size(), 3);
    QCOMPARE(Lines[2], QString());
    const QRegularExpression System(QStringLiteral(
        R"(^2018-03-05 14:07:09;;\S.* \(Version \d+\.\d+, Build \d+, (64|32)-bit Edition\);$)"));
    QVERIFY2(System.match(Lines[0]).hasMatch(), qPrintable(Lines[0]));
    const QRegularExpression Memory(
        QStringLiteral(R"(^2018-03-05 14:07:09;;Memory usage: (\d+ Bytes|\d+[.,]\d\d [KMGT]B);$)"));
    QVERIFY2(Memory.match(Lines[1]).hasMatch(), qPrintable(Lines[1]));
}

void TestActivityLog::appendsToAnEarlierFile() {
    QVERIFY(QDir().mkpath(Folder()));
    Write(DayFile(Stamp.Date), "earlier run;\r\n");
    TActivityLog Log(QStringLiteral("WorkstationLogs"), QStringLiteral("Aloha"));
    Log.AddLogEntry(QStringLiteral("later"));
    QCOMPARE(Read(DayFile(Stamp.Date)),
             QByteArray("earlier run;\r\n2018-03-05 14:07:09;Info;later;\r\n"));
}

void TestActivityLog::rollOverAtMidnight() {
    FClock->Set(LocalTime(2018, 3, 5, 23, 59, 59));
    TActivityLog Log(QStringLiteral("WorkstationLogs"), QStringLiteral("Aloha"));
    Log.AddLogEntry(QStringLiteral("before"));
    FClock->Set(LocalTime(2018, 3, 6, 0, 0, 0));
    Log.AddLogEntry(QStringLiteral("after"));

    QCOMPARE(Read(DayFile(QDate(2018, 3, 5))), QByteArray("2018-03-05 23:59:59;Info;before;\r\n"));
    QCOMPARE(Read(DayFile(QDate(2018, 3, 6))), QByteArray("2018-03-06 00:00:00;Info;after;\r\n"));
}

void TestActivityLog::clockSetBackADay() {
    FClock->Set(LocalTime(2018, 3, 5, 12, 0, 0));
    TActivityLog Log(QStringLiteral("WorkstationLogs"), QStringLiteral("Aloha"));
    Log.AddLogEntry(QStringLiteral("first"));
    FClock->Set(LocalTime(2018, 3, 6, 12, 0, 0));
    Log.AddLogEntry(QStringLiteral("next day"));
    FClock->Set(LocalTime(2018, 3, 5, 12, 30, 0));
    Log.AddLogEntry(QStringLiteral("set back"));

    QCOMPARE(
        Read(DayFile(QDate(2018, 3, 5))),
        QByteArray("2018-03-05 12:00:00;Info;first;\r\n2018-03-05 12:30:00;Info;set back;\r\n"));
    QCOMPARE(Read(DayFile(QDate(2018, 3, 6))),
             QByteArray("2018-03-06 12:00:00;Info;next day;\r\n"));
}

void TestActivityLog::inactiveLogWritesNothing() {
    TActivityLog Log(QStringLiteral("WorkstationLogs"), QStringLiteral("Aloha"));
    Log.SetActive(false);
    QVERIFY(!Log.Active());
    Log.AddLogEntry(QStringLiteral("x"));
    Log.AddErrorEntry(QStringLiteral("x"));
    Log.AddWarningEntry(QStringLiteral("x"));
    Log.AddDebugEntry(QStringLiteral("x"));
    Log.AddSystemInformation();
    Log.AddMemoryUsage();
    QVERIFY(QDir(Folder()).isEmpty());

    Log.SetActive(true);
    Log.AddLogEntry(QStringLiteral("back"));
    QCOMPARE(Read(DayFile(Stamp.Date)), QByteArray("2018-03-05 14:07:09;Info;back;\r\n"));
}

void TestActivityLog::reentrantEntryIsDropped() {
    TActivityLog Log(QStringLiteral("WorkstationLogs"), QStringLiteral("Aloha"));
    CapturedDebug.clear();
    ReentrantLog = &Log;
    QLoggingCategory::setFilterRules(QStringLiteral("lanfinder.log.debugoutput=true"));
    const QtMessageHandler Previous = qInstallMessageHandler(LogFromDebugOutput);
    Log.AddLogEntry(QStringLiteral("SRV<BR>forged"));
    qInstallMessageHandler(Previous);
    QLoggingCategory::setFilterRules(QString());
    ReentrantLog = nullptr;

    QCOMPARE(CapturedDebug, QStringList{QStringLiteral("2018-03-05 14:07:09InfoSRV forged")});
    QCOMPARE(Read(DayFile(Stamp.Date)), QByteArray("2018-03-05 14:07:09;Info;SRV forged;\r\n"));
}

void TestActivityLog::twoObjectsShareOneFile() {
    TActivityLog First(QStringLiteral("WorkstationLogs"), QStringLiteral("Aloha"));
    TActivityLog Second(QStringLiteral("WorkstationLogs"), QStringLiteral("Aloha"));
    First.AddLogEntry(QStringLiteral("1"));
    Second.AddErrorEntry(QStringLiteral("2"));
    First.AddLogEntry(QStringLiteral("3"));
    Second.AddLogEntry(QStringLiteral("4"));
    QCOMPARE(Read(DayFile(Stamp.Date)), QByteArray("2018-03-05 14:07:09;Info;1;\r\n"
                                                   "2018-03-05 14:07:09;Error;2;\r\n"
                                                   "2018-03-05 14:07:09;Info;3;\r\n"
                                                   "2018-03-05 14:07:09;Info;4;\r\n"));
}

void TestActivityLog::twoProcessesShareOneFile() {
    const int Count = 4000;
    const QStringList Tags = {QStringLiteral("A"), QStringLiteral("B")};
    std::vector<std::unique_ptr<QProcess>> Writers;
    for (const QString& Tag : Tags) {
        auto Writer = std::make_unique<QProcess>();
        Writer->setProcessChannelMode(QProcess::ForwardedChannels);
        Writer->start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--writer"), QString::number(Count), Tag});
        Writers.push_back(std::move(Writer));
    }
    for (const auto& Writer : Writers) {
        QVERIFY(Writer->waitForFinished(120000));
        QCOMPARE(Writer->exitStatus(), QProcess::NormalExit);
        QCOMPARE(Writer->exitCode(), 0);
    }

    // The writers run on the real clock; a run across midnight spans two files.
    QByteArray All;
    const QDir Dir(Folder());
    for (const QString& Name :
         Dir.entryList({QStringLiteral("Aloha-*.logfile")}, QDir::Files, QDir::Name))
        All += Read(Dir.filePath(Name));
    QVERIFY(All.endsWith("\r\n"));
    const QList<QByteArray> Lines = All.chopped(1).split('\n');
    QCOMPARE(Lines.size(), Count * int(Tags.size()));

    const QRegularExpression Shape(QStringLiteral(
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d;Info;writer ([AB]) line (\d+) x{300};\r$)"));
    QHash<QString, int> Next;
    for (const QByteArray& Line : Lines) {
        const auto Match = Shape.match(QString::fromLatin1(Line));
        QVERIFY2(Match.hasMatch(), Line.left(120).constData());
        // Each writer's lines arrive whole and in its own order.
        QCOMPARE(Match.captured(2).toInt(), Next[Match.captured(1)]++);
    }
    for (const QString& Tag : Tags)
        QCOMPARE(Next[Tag], Count);
}

void TestActivityLog::unwritableFolderRaisesEveryTime_data() {
    QTest::addColumn<bool>("fileInPlaceOfFolder");
    QTest::addColumn<QString>("reason");

    QTest::newRow("a file stands where the folder should be") << true << Reason(ENOTDIR);
    QTest::newRow("the folder went away after construction") << false << Reason(ENOENT);
}

void TestActivityLog::unwritableFolderRaisesEveryTime() {
    QFETCH(bool, fileInPlaceOfFolder);
    QFETCH(QString, reason);

    const QString Blocker = FStateHome->filePath(QStringLiteral("Ternwick Software"));
    if (fileInPlaceOfFolder)
        Write(Blocker, "not a folder");
    TActivityLog Log(QStringLiteral("WorkstationLogs"), QStringLiteral("Aloha"));
    if (!fileInPlaceOfFolder)
        QVERIFY(QDir(Blocker).removeRecursively());

    for (int Attempt = 0; Attempt < 2; ++Attempt) {
        try {
            Log.AddErrorEntry(QStringLiteral("lost"));
            QFAIL("the entry was reported as written");
        } catch (const ELogWriteError& E) {
            QVERIFY2(E.Message().endsWith(reason), qPrintable(E.Message()));
            QVERIFY2(E.Message().contains(DayFile(Stamp.Date)), qPrintable(E.Message()));
        }
    }

    // The failed entries leave the log usable once the folder is there.
    QFile::remove(Blocker);
    QVERIFY(QDir().mkpath(Folder()));
    Log.AddLogEntry(QStringLiteral("recovered"));
    QCOMPARE(Read(DayFile(Stamp.Date)), QByteArray("2018-03-05 14:07:09;Info;recovered;\r\n"));
}

int main(int argc, char** argv) {
    if (argc == 4 && qstrcmp(argv[1], "--writer") == 0)
        return RunWriter(QByteArray(argv[2]).toInt(), QString::fromLocal8Bit(argv[3]));
    QCoreApplication App(argc, argv);
    TestActivityLog Test;
    return QTest::qExec(&Test, argc, argv);
}

#include "TestActivityLog.moc"
