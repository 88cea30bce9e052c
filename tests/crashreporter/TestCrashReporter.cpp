// The crash reporter as the program meets it: an exception leaving a real event
// handler, the box the user answers, the report file, and fatal signals in a child
// process (this binary, started again with an argument).

#include "CrashReporter.h"
#include "CrashReporterOS.h"
#include "Errors.h"
#include "HostInfo.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <sys/resource.h>
#include <vector>

namespace {

const char* const ReportSeparator = "======== Exception report ========";
const char* const FatalSeparator = "======== Fatal signal ========";

// The folder the program itself reports to, below the given state folder.
QString ReportFolderBelow(const QString& StateHome) {
    qputenv("XDG_STATE_HOME", QFile::encodeName(StateHome));
    return QDir(GetCommonDocumentsFolder())
        .filePath(QStringLiteral("Ternwick Software/Quillory 5"));
}

QByteArray ReadFile(const QString& FileName) {
    QFile File(FileName);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

void WriteFile(const QString& FileName, const QByteArray& Bytes) {
    QFile File(FileName);
    if (File.open(QIODevice::WriteOnly | QIODevice::Truncate))
        File.write(Bytes);
}

// An object whose event handler fails the way the chosen row says.
class TThrower : public QObject {
public:
    std::function<void()> Throw;

protected:
    void customEvent(QEvent*) override { Throw(); }
};

void PostFailingEvent(TThrower& Target) {
    QCoreApplication::postEvent(&Target, new QEvent(QEvent::User));
}

QAbstractButton* ButtonNamed(QMessageBox* Box, const QString& Text) {
    for (QAbstractButton* Button : Box->buttons())
        if (Button->text() == Text)
            return Button;
    return nullptr;
}

QMessageBox* CrashBox(QWidget* Modal) {
    auto* Box = qobject_cast<QMessageBox*>(Modal);
    return Box && Box->windowTitle() == QLatin1String("Error") &&
                   Box->icon() == QMessageBox::Critical
               ? Box
               : nullptr;
}

// Plays the user: each step is offered the active modal widget on every tick until
// it says it is done. A script that stalls closes whatever is open, so a missing
// button fails the test instead of hanging it.
class TUserScript {
public:
    using TStep = std::function<bool(QWidget* Modal)>;

    explicit TUserScript(std::vector<TStep> Steps) : FSteps(std::move(Steps)) {
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Tick(); });
        FTimer.start(20);
    }

    bool Finished() const { return FNext == FSteps.size(); }
    bool Stalled() const { return FStalled; }

private:
    void Tick() {
        if (Finished()) {
            FTimer.stop();
            return;
        }
        if (++FTicks > 500) {
            FStalled = true;
            FTimer.stop();
            while (QWidget* Modal = QApplication::activeModalWidget())
                Modal->close();
            return;
        }
        if (FSteps[FNext](QApplication::activeModalWidget()))
            ++FNext;
    }

    std::vector<TStep> FSteps;
    std::size_t FNext = 0;
    int FTicks = 0;
    bool FStalled = false;
    QTimer FTimer;
};

TUserScript::TStep Press(const QString& ButtonText, QString* BoxText = nullptr,
                         QStringList* Buttons = nullptr) {
    return [=](QWidget* Modal) {
        QMessageBox* Box = CrashBox(Modal);
        if (!Box)
            return false;
        if (BoxText)
            *BoxText = Box->text();
        if (Buttons) {
            Buttons->clear();
            for (QAbstractButton* Button : Box->buttons())
                *Buttons << Button->text();
        }
        if (QAbstractButton* Button = ButtonNamed(Box, ButtonText)) {
            Button->click();
            return true;
        }
        return false;
    };
}

void ConfigureReporter(TCrashReporter& Reporter, const QString& Folder) {
    Reporter.SetReportFolder(Folder);
    Reporter.SetProgramVersion(QStringLiteral("9.8.7"));
    Reporter.SetSystemInformation(
        [] { return QStringLiteral("Test System (Version 1.2, Build 3, x86_64)"); });
}

// --- Child processes --------------------------------------------------------------

int RunFatalSignalChild(const QString& Signal, const QString& Folder, int argc, char** argv) {
    rlimit NoCore{0, 0};
    setrlimit(RLIMIT_CORE, &NoCore);
    TReportingApplication Application(argc, argv);
    TCrashReporter Reporter;
    ConfigureReporter(Reporter, Folder);
    Reporter.Install();
    Application.SetCrashReporter(&Reporter);
    if (Signal == QLatin1String("SIGABRT"))
        std::abort();
    std::raise(SIGSEGV);
    return 0;
}

// First run: fails in a handler and answers the box with ButtonText. A restarted run
// finds the marker and writes down the arguments it was given.
int RunChoiceChild(int argc, char** argv) {
    const QString ButtonText = QString::fromLocal8Bit(argv[2]);
    const QString Folder = QString::fromLocal8Bit(argv[3]);
    const QString Marker = QDir(Folder).filePath(QStringLiteral("first-run"));
    if (QFile::exists(Marker)) {
        QByteArray Arguments;
        for (int i = 1; i < argc; ++i)
            Arguments += QByteArray(argv[i]) + '\n';
        WriteFile(QDir(Folder).filePath(QStringLiteral("restarted.txt")), Arguments);
        return 0;
    }
    WriteFile(Marker, QByteArray());
    TReportingApplication Application(argc, argv);
    TCrashReporter Reporter;
    ConfigureReporter(Reporter, Folder);
    Application.SetCrashReporter(&Reporter);
    TThrower Thrower;
    Thrower.Throw = [] { throw std::runtime_error("failed in the child"); };
    TUserScript User({Press(ButtonText)});
    PostFailingEvent(Thrower);
    return Application.exec();
}

} // namespace

class TestCrashReporter : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void exceptionFromEventHandler_data();
    void exceptionFromEventHandler();
    void exceptionWhileTheBoxIsOpen();
    void showReport();
    void sendReportNeedsARecipient();
    void reportFolderCannotBeMade();
    void choicesThatEndTheProgram_data();
    void choicesThatEndTheProgram();
    void fatalSignal_data();
    void fatalSignal();
    void fatalSignalTimeText_data();
    void fatalSignalTimeText();

private:
    int CountReports() const {
        return ReadFile(FReporter->ReportFileName()).count(ReportSeparator);
    }
    QString LastReport() const {
        const QByteArray Text = ReadFile(FReporter->ReportFileName());
        return QString::fromUtf8(Text.mid(Text.lastIndexOf(ReportSeparator)));
    }

    std::unique_ptr<QTemporaryDir> FState;
    std::unique_ptr<TCrashReporter> FReporter;
    std::unique_ptr<QWidget> FWindow;
};

void TestCrashReporter::init() {
    FState = std::make_unique<QTemporaryDir>();
    QVERIFY(FState->isValid());
    FReporter = std::make_unique<TCrashReporter>();
    ConfigureReporter(*FReporter, ReportFolderBelow(FState->path()));
    static_cast<TReportingApplication*>(qApp)->SetCrashReporter(FReporter.get());
    FWindow = std::make_unique<QLabel>(QStringLiteral("The window in the picture"));
    FWindow->resize(200, 80);
    FWindow->show();
    FWindow->activateWindow();
}

void TestCrashReporter::cleanup() {
    FWindow.reset();
    FReporter.reset();
    FState.reset();
}

void TestCrashReporter::exceptionFromEventHandler_data() {
    QTest::addColumn<std::function<void()>>("Throw");
    QTest::addColumn<QString>("ExceptionClass");
    QTest::addColumn<QString>("Message");
    QTest::addColumn<QString>("ReportedMessage");

    QTest::newRow("a standard exception")
        << std::function<void()>([] { throw std::runtime_error("Index out of range"); })
        << "std::runtime_error"
        << "Index out of range"
        << "Index out of range";
    QTest::newRow("one of the program's own errors, non-ASCII text") << std::function<void()>([] {
        throw ECommunicationError(QStringLiteral("Zugriff verweigert: Größe"));
    }) << "ECommunicationError"
                                                                     << "Zugriff verweigert: Größe"
                                                                     << "Zugriff verweigert: Größe";
    QTest::newRow("a message over two lines stays one field")
        << std::function<void()>([] { throw std::logic_error("first line\nsecond line"); })
        << "std::logic_error"
        << "first line\nsecond line" << QString("first line\n") + QString(20, ' ') + "second line";
    QTest::newRow("not a std::exception at all") << std::function<void()>([] { throw 42; }) << "int"
                                                 << "An exception of class int occurred."
                                                 << "";
}

void TestCrashReporter::exceptionFromEventHandler() {
    QFETCH(std::function<void()>, Throw);
    QFETCH(QString, ExceptionClass);
    QFETCH(QString, Message);
    QFETCH(QString, ReportedMessage);

    // An earlier report must survive the new one.
    QDir().mkpath(FReporter->ReportFolder());
    WriteFile(FReporter->ReportFileName(), "an earlier report\n");

    TThrower Thrower;
    Thrower.setObjectName(QStringLiteral("thrower"));
    Thrower.Throw = Throw;
    QString BoxText;
    QStringList Buttons;
    TUserScript User({Press(QStringLiteral("Continue"), &BoxText, &Buttons)});
    PostFailingEvent(Thrower);
    QTRY_VERIFY(User.Finished() || User.Stalled());
    QVERIFY2(!User.Stalled(), "the crash box did not come, or had no Continue");

    QVERIFY2(BoxText.startsWith(Message), qPrintable(BoxText));
    QVERIFY(BoxText.contains(QDir::toNativeSeparators(FReporter->ReportFileName())));
    QStringList Expected{"Continue", "Restart", "Close program", "Show report"};
    if (!FReporter->MailRecipient().isEmpty())
        Expected << "Send report";
    Buttons.sort();
    Expected.sort();
    QCOMPARE(Buttons, Expected);

    // The program goes on: events are still delivered.
    bool Delivered = false;
    QTimer::singleShot(0, [&] { Delivered = true; });
    QTRY_VERIFY(Delivered);

    const QByteArray File = ReadFile(FReporter->ReportFileName());
    QVERIFY(File.startsWith("an earlier report\n"));
    QCOMPARE(CountReports(), 1);
    const QString Report = LastReport();
    QVERIFY2(Report.contains("Exception class   : " + ExceptionClass + "\n"), qPrintable(Report));
    const QString MessageLine = ReportedMessage.isEmpty()
                                    ? QStringLiteral("Exception message :\n")
                                    : "Exception message : " + ReportedMessage + "\n";
    QVERIFY2(Report.contains(MessageLine), qPrintable(Report));
    QVERIFY(Report.contains("Version           : 9.8.7\n"));
    QVERIFY(Report.contains("System            : Test System (Version 1.2, Build 3, x86_64)\n"));
    QVERIFY2(
        Report.contains(QRegularExpression("\nReceiver          : [^\n]*TThrower \"thrower\"\n")),
        qPrintable(Report));
    QVERIFY(Report.contains("Event             : User\n"));
    QVERIFY(Report.contains("Process id        : " +
                            QString::number(QCoreApplication::applicationPid())));
    const QString Time = Report.section("Date/time         : ", 1).section('\n', 0, 0);
    const QDateTime When = QDateTime::fromString(Time, Qt::ISODateWithMs);
    QVERIFY2(When.isValid() && qAbs(When.secsTo(QDateTime::currentDateTime())) < 60 &&
                 QRegularExpression("(Z|[+-]\\d\\d:\\d\\d)$").match(Time).hasMatch(),
             qPrintable(Time));
    QVERIFY(Report.section("Call stack        :\n", 1).count('\n') > 2);

    const QImage Screenshot(FReporter->ScreenshotFileName());
    QCOMPARE(Screenshot.size(), FWindow->size() * FWindow->devicePixelRatio());
}

// A timer that fails on every tick must not pile box on box.
void TestCrashReporter::exceptionWhileTheBoxIsOpen() {
    TThrower Thrower;
    Thrower.Throw = [] { throw std::runtime_error("again"); };
    QMessageBox* First = nullptr;
    int TicksOpen = 0;
    bool SecondBox = false;
    TUserScript User({[&](QWidget* Modal) {
                          First = CrashBox(Modal);
                          if (First)
                              PostFailingEvent(Thrower);
                          return First != nullptr;
                      },
                      [&](QWidget* Modal) {
                          if (Modal != First)
                              SecondBox = true;
                          return ++TicksOpen >= 10;
                      },
                      Press(QStringLiteral("Continue"))});
    PostFailingEvent(Thrower);
    QTRY_VERIFY(User.Finished() || User.Stalled());
    QVERIFY(!User.Stalled());
    QVERIFY(!SecondBox);
    QCOMPARE(CountReports(), 2);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void TestCrashReporter::showReport() {
    TThrower Thrower;
    Thrower.Throw = [] { throw std::runtime_error("look at me"); };
    QString Shown;
    bool ReadOnly = false;
    TUserScript User({Press(QStringLiteral("Show report")),
                      [&](QWidget* Modal) {
                          auto* View = Modal ? Modal->findChild<QPlainTextEdit*>() : nullptr;
                          if (!View)
                              return false;
                          Shown = View->toPlainText();
                          ReadOnly = View->isReadOnly();
                          Modal->close();
                          return true;
                      },
                      Press(QStringLiteral("Continue"))});
    PostFailingEvent(Thrower);
    QTRY_VERIFY(User.Finished() || User.Stalled());
    QVERIFY(!User.Stalled());
    QVERIFY(ReadOnly);
    QVERIFY2(Shown.contains("Exception message : look at me"), qPrintable(Shown));
}

// The build's recipient is empty unless set; with one, the choice appears.
void TestCrashReporter::sendReportNeedsARecipient() {
    FReporter->SetMailRecipient(QStringLiteral("reports@example.invalid"));
    TThrower Thrower;
    Thrower.Throw = [] { throw std::runtime_error("mail me"); };
    QStringList Buttons;
    TUserScript User({Press(QStringLiteral("Continue"), nullptr, &Buttons)});
    PostFailingEvent(Thrower);
    QTRY_VERIFY(User.Finished() || User.Stalled());
    QVERIFY(!User.Stalled());
    QVERIFY2(Buttons.contains("Send report"), qPrintable(Buttons.join(", ")));
}

// A report that can't be written is not claimed as saved.
void TestCrashReporter::reportFolderCannotBeMade() {
    const QString Blocker = FState->filePath(QStringLiteral("a file"));
    WriteFile(Blocker, "in the way");
    FReporter->SetReportFolder(Blocker + QStringLiteral("/reports"));
    TThrower Thrower;
    Thrower.Throw = [] { throw std::runtime_error("nowhere to write"); };
    QString BoxText;
    QStringList Buttons;
    TUserScript User({Press(QStringLiteral("Continue"), &BoxText, &Buttons)});
    PostFailingEvent(Thrower);
    QTRY_VERIFY(User.Finished() || User.Stalled());
    QVERIFY(!User.Stalled());
    QVERIFY2(BoxText.contains("The report could not be saved"), qPrintable(BoxText));
    QVERIFY(!BoxText.contains("has been saved"));
    QVERIFY(!Buttons.contains("Show report"));
    QVERIFY(!Buttons.contains("Send report"));
}

void TestCrashReporter::choicesThatEndTheProgram_data() {
    QTest::addColumn<QString>("Button");
    QTest::addColumn<bool>("Restarts");
    QTest::newRow("Close program") << "Close program" << false;
    QTest::newRow("Restart, with the arguments Qt takes for itself") << "Restart" << true;
}

void TestCrashReporter::choicesThatEndTheProgram() {
    QFETCH(QString, Button);
    QFETCH(bool, Restarts);
    const QStringList Arguments{"--choice-child", Button, FState->path(), "-platform", "offscreen",
                                "two words",      ""};
    QProcess Child;
    Child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Child.start(QCoreApplication::applicationFilePath(), Arguments);
    QVERIFY(Child.waitForFinished(20000));
    QCOMPARE(Child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(Child.exitCode(), TCrashReporter::ExitCodeAfterException);

    const QString Restarted = FState->filePath(QStringLiteral("restarted.txt"));
    if (Restarts) {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(Restarted) && !ReadFile(Restarted).isEmpty(), 20000);
        QCOMPARE(QString::fromLocal8Bit(ReadFile(Restarted)), Arguments.join('\n') + '\n');
    } else {
        QTest::qWait(300);
        QVERIFY(!QFile::exists(Restarted));
    }
    QCOMPARE(ReadFile(QDir(FState->path()).filePath("exceptionreport.txt")).count(ReportSeparator),
             1);
}

void TestCrashReporter::fatalSignal_data() {
    QTest::addColumn<QString>("Signal");
    QTest::addColumn<int>("Number");
    QTest::newRow("segmentation fault") << "SIGSEGV" << int(SIGSEGV);
    QTest::newRow("abort") << "SIGABRT" << int(SIGABRT);
}

void TestCrashReporter::fatalSignal() {
    QFETCH(QString, Signal);
    QFETCH(int, Number);
    // The folder does not exist yet: the handler makes it.
    const QString Folder = FState->filePath(QStringLiteral("not yet/made"));
    const QString ReportFile = QDir(Folder).filePath(QStringLiteral("exceptionreport.txt"));

    QProcess Child;
    Child.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    Child.start(QCoreApplication::applicationFilePath(), {"--fatal-child", Signal, Folder});
    QVERIFY(Child.waitForFinished(20000));
    // The process still ends by its signal, as it would without a reporter.
    QCOMPARE(Child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(Child.exitCode(), Number);
    QVERIFY(Child.readAllStandardError().contains("report appended to"));

    const QString Report = QString::fromUtf8(ReadFile(ReportFile));
    QVERIFY2(Report.contains(FatalSeparator), qPrintable(Report));
    QVERIFY(
        Report.contains(QStringLiteral("Signal            : %1 (%2)\n").arg(Signal).arg(Number)));
    QVERIFY(Report.contains("Version           : 9.8.7\n"));
    QVERIFY(Report.contains("System            : Test System (Version 1.2, Build 3, x86_64)\n"));
    QVERIFY(Report.contains("Program           : " + QCoreApplication::applicationFilePath()));
    const QString Time = Report.section("Date/time         : ", 1).section('\n', 0, 0);
    const QDateTime When = QDateTime::fromString(Time, Qt::ISODate);
    QVERIFY2(When.isValid() && qAbs(When.secsTo(QDateTime::currentDateTimeUtc())) < 60,
             qPrintable(Time));
    QVERIFY(Report.section("Call stack        :\n", 1).count('\n') > 2);
}

// The signal handler can't use the C library's calendar, so it has its own.
void TestCrashReporter::fatalSignalTimeText_data() {
    QTest::addColumn<qint64>("Seconds");
    QTest::newRow("the epoch") << qint64(0);
    QTest::newRow("last second of 1999") << qint64(946684799);
    QTest::newRow("leap day 2000 (divisible by 400)") << qint64(951782400);
    QTest::newRow("leap day 2024, one second before midnight") << qint64(1709251199);
    QTest::newRow("1 March 2100 (not a leap year)") << qint64(4107542400);
    QTest::newRow("before the epoch") << qint64(-86401);
    QTest::newRow("a day in 2026") << qint64(1796989802);
}

void TestCrashReporter::fatalSignalTimeText() {
    QFETCH(qint64, Seconds);
    char Buffer[32];
    const std::size_t Length =
        CrashReporterOS::FormatUtcTime(static_cast<std::time_t>(Seconds), Buffer, sizeof Buffer);
    QCOMPARE(QString::fromLatin1(Buffer, static_cast<qsizetype>(Length)),
             QDateTime::fromSecsSinceEpoch(Seconds, Qt::UTC).toString("yyyy-MM-ddTHH:mm:ssZ"));
    QCOMPARE(CrashReporterOS::FormatUtcTime(0, Buffer, 19), std::size_t(0));
}

int main(int argc, char** argv) {
    if (argc >= 4 && qstrcmp(argv[1], "--fatal-child") == 0)
        return RunFatalSignalChild(QString::fromLatin1(argv[2]), QString::fromLocal8Bit(argv[3]),
                                   argc, argv);
    if (argc >= 4 && qstrcmp(argv[1], "--choice-child") == 0)
        return RunChoiceChild(argc, argv);
    TReportingApplication Application(argc, argv);
    TestCrashReporter Test;
    return QTest::qExec(&Test, argc, argv);
}

#include "TestCrashReporter.moc"
