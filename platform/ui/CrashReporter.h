#pragma once
// The crash reporter. An exception that leaves an event handler becomes a report
// appended to "exceptionreport.txt", a "screenshot.png" of the active window beside
// it, and a modal box in which the user continues, restarts or closes the program.
// A fatal signal still appends a short report before the process ends. The
// installer owns the reporter and gives it the report folder, the program version
// and the system-information line, so nothing here knows the program it serves:
//
//     TReportingApplication App(argc, argv);
//     TCrashReporter Reporter;
//     Reporter.SetReportFolder(...);
//     Reporter.SetProgramVersion(...);
//     Reporter.SetMailSubject(...);
//     Reporter.Install();
//     App.SetCrashReporter(&Reporter);

#include <QApplication>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>

class QEvent;
class QObject;
class QWidget;

// What one report says; FormatExceptionReport turns it into text.
struct TExceptionReport {
    QDateTime Time;
    QString ExceptionClass;
    QString Message;
    QString ProgramFile;
    qint64 ProcessId = 0;
    QString Version;
    QString SystemInformation;
    // The receiver and the event being delivered when the exception left.
    QString Receiver;
    QString Event;
    QStringList CallStack;
};

QString FormatExceptionReport(const TExceptionReport& Report);

// The class name and the message of an exception in flight; a class that is not
// a std::exception gives its type name and an empty message.
void DescribeException(std::exception_ptr Exception, QString& ExceptionClass, QString& Message);

// The calling thread's stack, one line a frame; empty where the platform gives none.
QStringList CurrentCallStack();

class TCrashReporter {
public:
    enum class TChoice { Continue, Restart, Close };
    // The exit code of a program the user closed (or restarted) after an exception:
    // it did not end normally.
    static constexpr int ExitCodeAfterException = 1;

    TCrashReporter();
    ~TCrashReporter();
    TCrashReporter(const TCrashReporter&) = delete;
    TCrashReporter& operator=(const TCrashReporter&) = delete;

    // Created when the first report is written.
    const QString& ReportFolder() const { return FReportFolder; }
    void SetReportFolder(const QString& Value);
    QString ReportFileName() const;
    QString ScreenshotFileName() const;

    const QString& ProgramVersion() const { return FProgramVersion; }
    void SetProgramVersion(const QString& Value);
    // Asked once at every report; the system's description unless set.
    void SetSystemInformation(std::function<QString()> Value);

    // "Send report" is offered only with a recipient; the build's own recipient
    // is the default.
    const QString& MailRecipient() const { return FMailRecipient; }
    void SetMailRecipient(const QString& Value) { FMailRecipient = Value; }
    const QString& MailSubject() const { return FMailSubject; }
    void SetMailSubject(const QString& Value) { FMailSubject = Value; }

    // Takes over SIGSEGV, SIGABRT, SIGBUS, SIGFPE and SIGILL for this reporter,
    // one reporter per process; destruction hands them back.
    void Install();
    void Uninstall();
    bool Installed() const { return FInstalled; }

    // For an exception that left an event handler: writes the report, saves the
    // screenshot and asks the user. Restart and Close leave the event loops with
    // ExitCodeAfterException. An exception that arrives while the box is open is
    // reported without a second box.
    TChoice HandleException(std::exception_ptr Exception, QObject* Receiver, QEvent* Event);

private:
    bool WriteReport(const QString& Text, QString& Error);
    bool SaveScreenshot(QObject* Receiver);
    TChoice AskUser(const QString& Message, const QString& SaveError);
    void ShowReport(QWidget* Parent);
    void SendReport(QWidget* Parent);
    bool Restart(QWidget* Parent);
    void UpdateFatalReportText();

    QString FReportFolder;
    QString FProgramVersion;
    std::function<QString()> FSystemInformation;
    QString FMailRecipient;
    QString FMailSubject;
    bool FInstalled = false;
    bool FAsking = false;
    bool FScreenshotSaved = false;
};

// The application object: hands every exception that leaves an event handler to
// its crash reporter instead of letting it end the program.
class TReportingApplication : public QApplication {
public:
    TReportingApplication(int& argc, char** argv);

    TCrashReporter* CrashReporter() const { return FCrashReporter; }
    // Not owned.
    void SetCrashReporter(TCrashReporter* Value) { FCrashReporter = Value; }

    bool notify(QObject* Receiver, QEvent* Event) override;

private:
    TCrashReporter* FCrashReporter = nullptr;
};
