#include "CrashReporter.h"

#include "CrashReporterOS.h"
#include "Errors.h"
#include "Logger.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QMetaEnum>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <mutex>

Q_LOGGING_CATEGORY(lcCrashReporter, "lanfinder.crashreporter")

namespace {

const QString ReportName = QStringLiteral("exceptionreport.txt");
const QString ScreenshotName = QStringLiteral("screenshot.png");
const QString ReportSeparator = QStringLiteral("======== Exception report ========");
// The report view shows the end of the file: the newest reports.
constexpr qint64 ShownReportBytes = 1024 * 1024;

std::mutex ReportFileLock;

// Continuation lines are indented under the value, so a message never breaks
// the "field : value" form of a report.
QString Field(const QString& Name, const QString& Value) {
    QString Indent(20, QLatin1Char(' '));
    QString Text = Value;
    Text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    Text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    Text.replace(QLatin1Char('\n'), QLatin1Char('\n') + Indent);
    if (Text.isEmpty())
        return Name.leftJustified(18) + QLatin1String(":\n");
    return Name.leftJustified(18) + QLatin1String(": ") + Text + QLatin1Char('\n');
}

QString DescribeReceiver(QObject* Receiver) {
    if (!Receiver)
        return QString();
    // The dynamic type names classes that carry no meta-object of their own.
    QString Text = CrashReporterOS::TypeName(typeid(*Receiver));
    if (!Receiver->objectName().isEmpty())
        Text += QLatin1String(" \"") + Receiver->objectName() + QLatin1Char('"');
    return Text;
}

QString DescribeEvent(QEvent* Event) {
    if (!Event)
        return QString();
    const int Type = static_cast<int>(Event->type());
    const char* Key = QMetaEnum::fromType<QEvent::Type>().valueToKey(Type);
    return Key ? QString::fromLatin1(Key) : QString::number(Type);
}

struct TOriginalCommand {
    QString Program;
    QStringList Arguments;
    QString WorkingDirectory;
};

TOriginalCommand& OriginalCommand() {
    static TOriginalCommand Command;
    return Command;
}

QWidget* WindowToPicture(QObject* Receiver) {
    if (QWidget* Active = QApplication::activeWindow())
        return Active;
    if (auto* Widget = qobject_cast<QWidget*>(Receiver); Widget && Widget->window()->isVisible())
        return Widget->window();
    for (QWidget* TopLevel : QApplication::topLevelWidgets())
        if (TopLevel->isVisible() && TopLevel->windowType() != Qt::Popup)
            return TopLevel;
    return nullptr;
}

// Leaves every event loop with Code; before the main loop runs there is none to
// leave, and the user's choice must still end the program.
[[noreturn]] void EndProgram(int Code) {
    std::fflush(nullptr);
    std::_Exit(Code);
}

void LeaveEventLoops(int Code) {
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(Code);
    else
        EndProgram(Code);
}

} // namespace

QString FormatExceptionReport(const TExceptionReport& Report) {
    QString Text;
    Text += QLatin1Char('\n') + ReportSeparator + QLatin1Char('\n');
    Text += Field(QStringLiteral("Date/time"), Report.Time.toString(Qt::ISODateWithMs));
    Text += Field(QStringLiteral("Program"), Report.ProgramFile);
    Text += Field(QStringLiteral("Process id"), QString::number(Report.ProcessId));
    Text += Field(QStringLiteral("Version"), Report.Version);
    Text += Field(QStringLiteral("System"), Report.SystemInformation);
    Text += Field(QStringLiteral("Exception class"), Report.ExceptionClass);
    Text += Field(QStringLiteral("Exception message"), Report.Message);
    if (!Report.Receiver.isEmpty())
        Text += Field(QStringLiteral("Receiver"), Report.Receiver);
    if (!Report.Event.isEmpty())
        Text += Field(QStringLiteral("Event"), Report.Event);
    Text += Field(QStringLiteral("Call stack"), QString());
    for (const QString& Frame : Report.CallStack)
        Text += QLatin1String("  ") + Frame + QLatin1Char('\n');
    return Text;
}

void DescribeException(std::exception_ptr Exception, QString& ExceptionClass, QString& Message) {
    try {
        std::rethrow_exception(Exception);
    } catch (const EError& Error) {
        ExceptionClass = CrashReporterOS::TypeName(typeid(Error));
        Message = Error.Message();
    } catch (const std::exception& Error) {
        ExceptionClass = CrashReporterOS::TypeName(typeid(Error));
        Message = QString::fromUtf8(Error.what());
    } catch (...) {
        ExceptionClass = CrashReporterOS::CurrentExceptionTypeName();
        Message.clear();
    }
}

QStringList CurrentCallStack() {
    return CrashReporterOS::CallStack(1);
}

TCrashReporter::TCrashReporter()
    : FSystemInformation([] { return SystemInformationText(); }),
      FMailRecipient(QStringLiteral(LANFINDER_REPORT_RECIPIENT)),
      FMailSubject(QStringLiteral("Exception Report.")) {}

TCrashReporter::~TCrashReporter() {
    // The application may outlive its reporter by a few events.
    if (auto* Application = dynamic_cast<TReportingApplication*>(QCoreApplication::instance());
        Application && Application->CrashReporter() == this)
        Application->SetCrashReporter(nullptr);
    Uninstall();
}

void TCrashReporter::SetReportFolder(const QString& Value) {
    FReportFolder = Value;
    UpdateFatalReportText();
}

QString TCrashReporter::ReportFileName() const {
    return QDir(FReportFolder).filePath(ReportName);
}

QString TCrashReporter::ScreenshotFileName() const {
    return QDir(FReportFolder).filePath(ScreenshotName);
}

void TCrashReporter::SetProgramVersion(const QString& Value) {
    FProgramVersion = Value;
    UpdateFatalReportText();
}

void TCrashReporter::SetSystemInformation(std::function<QString()> Value) {
    FSystemInformation = std::move(Value);
    UpdateFatalReportText();
}

void TCrashReporter::Install() {
    if (FInstalled)
        return;
    FInstalled = true;
    UpdateFatalReportText();
    CrashReporterOS::InstallFatalSignalHandlers();
}

void TCrashReporter::Uninstall() {
    if (!FInstalled)
        return;
    CrashReporterOS::RemoveFatalSignalHandlers();
    FInstalled = false;
}

// The signal handler can only copy bytes, so its text is formed whenever a
// setting changes.
void TCrashReporter::UpdateFatalReportText() {
    if (!FInstalled)
        return;
    QString Details;
    Details += Field(QStringLiteral("Program"), QCoreApplication::applicationFilePath());
    Details += Field(QStringLiteral("Version"), FProgramVersion);
    Details +=
        Field(QStringLiteral("System"), FSystemInformation ? FSystemInformation() : QString());
    CrashReporterOS::SetFatalReport(QFile::encodeName(ReportFileName()),
                                    QFile::encodeName(QDir::cleanPath(FReportFolder)),
                                    Details.toUtf8());
}

bool TCrashReporter::WriteReport(const QString& Text, QString& Error) {
    std::lock_guard Lock(ReportFileLock);
    if (FReportFolder.isEmpty()) {
        Error = QStringLiteral("No folder for reports is set.");
        return false;
    }
    if (!QDir().mkpath(FReportFolder)) {
        Error = QStringLiteral("The folder %1 could not be created.")
                    .arg(QDir::toNativeSeparators(FReportFolder));
        return false;
    }
    QFile File(ReportFileName());
    if (!File.open(QIODevice::WriteOnly | QIODevice::Append)) {
        Error = File.errorString();
        return false;
    }
    const QByteArray Bytes = Text.toUtf8();
    if (File.write(Bytes) != Bytes.size() || !File.flush()) {
        Error = File.errorString();
        return false;
    }
    return true;
}

bool TCrashReporter::SaveScreenshot(QObject* Receiver) {
    QWidget* Window = WindowToPicture(Receiver);
    if (!Window || FReportFolder.isEmpty())
        return false;
    // Grabbing paints the window, and its painting may be what failed.
    QPixmap Picture;
    try {
        Picture = Window->grab();
    } catch (...) {
        return false;
    }
    return !Picture.isNull() && QDir().mkpath(FReportFolder) &&
           Picture.save(ScreenshotFileName(), "PNG");
}

TCrashReporter::TChoice TCrashReporter::HandleException(std::exception_ptr Exception,
                                                        QObject* Receiver, QEvent* Event) {
    TExceptionReport Report;
    const QDateTime Now = QDateTime::currentDateTime();
    Report.Time = Now.toOffsetFromUtc(Now.offsetFromUtc());
    DescribeException(Exception, Report.ExceptionClass, Report.Message);
    Report.ProgramFile = QCoreApplication::applicationFilePath();
    Report.ProcessId = QCoreApplication::applicationPid();
    Report.Version = FProgramVersion;
    Report.SystemInformation = FSystemInformation ? FSystemInformation() : QString();
    Report.Receiver = DescribeReceiver(Receiver);
    Report.Event = DescribeEvent(Event);
    Report.CallStack = CrashReporterOS::CallStack(1);

    const QString Text = FormatExceptionReport(Report);
    QString SaveError;
    const bool Saved = WriteReport(Text, SaveError);
    if (!Saved) {
        // Nothing is lost: the report goes to the diagnostics instead.
        qCCritical(lcCrashReporter).noquote()
            << "The exception report could not be saved:" << SaveError << Text;
    } else {
        qCCritical(lcCrashReporter).noquote() << Report.ExceptionClass << Report.Message
                                              << "- report appended to" << ReportFileName();
    }

    const QString Shown =
        Report.Message.isEmpty()
            ? QStringLiteral("An exception of class %1 occurred.").arg(Report.ExceptionClass)
            : Report.Message;

    if (QThread::currentThread() != qApp->thread()) {
        // Widgets live on the UI thread only: ask there, without a screenshot.
        QMetaObject::invokeMethod(
            qApp,
            [this, Shown, SaveError] {
                FScreenshotSaved = false;
                TChoice Choice = AskUser(Shown, SaveError);
                if (Choice != TChoice::Continue)
                    LeaveEventLoops(ExitCodeAfterException);
            },
            Qt::QueuedConnection);
        return TChoice::Continue;
    }
    // Ticks and other events go on while the box is open; a handler that fails
    // again gets its report, but not a box on top of the box.
    if (FAsking)
        return TChoice::Continue;

    FAsking = true;
    FScreenshotSaved = SaveScreenshot(Receiver);
    TChoice Choice;
    try {
        Choice = AskUser(Shown, SaveError);
    } catch (...) {
        FAsking = false;
        throw;
    }
    FAsking = false;
    if (Choice != TChoice::Continue)
        LeaveEventLoops(ExitCodeAfterException);
    return Choice;
}

TCrashReporter::TChoice TCrashReporter::AskUser(const QString& Message, const QString& SaveError) {
    QString Text = Message + QLatin1String("\n\n");
    if (SaveError.isEmpty())
        Text += QStringLiteral("A report has been saved to %1.")
                    .arg(QDir::toNativeSeparators(ReportFileName()));
    else
        Text += QStringLiteral("The report could not be saved: %1").arg(SaveError);
    Text += QStringLiteral("\n\nThe program may not work as it should from now on.");

    QMessageBox Box(QMessageBox::Critical, QStringLiteral("Error"), Text);
    Box.setTextFormat(Qt::PlainText);
    Box.setObjectName(QStringLiteral("CrashReporterBox"));
    QPushButton* Continue = Box.addButton(QStringLiteral("Continue"), QMessageBox::AcceptRole);
    QPushButton* Restart = Box.addButton(QStringLiteral("Restart"), QMessageBox::ActionRole);
    QPushButton* Close = Box.addButton(QStringLiteral("Close program"), QMessageBox::RejectRole);
    QPushButton* Show = nullptr;
    if (SaveError.isEmpty())
        Show = Box.addButton(QStringLiteral("Show report"), QMessageBox::HelpRole);
    QPushButton* Send = nullptr;
    if (!FMailRecipient.isEmpty() && SaveError.isEmpty())
        Send = Box.addButton(QStringLiteral("Send report"), QMessageBox::ActionRole);
    Box.setDefaultButton(Continue);
    Box.setEscapeButton(Continue);

    for (;;) {
        Box.exec();
        QAbstractButton* Clicked = Box.clickedButton();
        if (Clicked && Clicked == Show) {
            ShowReport(&Box);
        } else if (Clicked && Clicked == Send) {
            SendReport(&Box);
        } else if (Clicked == Restart) {
            if (this->Restart(&Box))
                return TChoice::Restart;
        } else if (Clicked == Close) {
            return TChoice::Close;
        } else {
            return TChoice::Continue;
        }
    }
}

void TCrashReporter::ShowReport(QWidget* Parent) {
    QFile File(ReportFileName());
    QString Text;
    if (File.open(QIODevice::ReadOnly)) {
        if (File.size() > ShownReportBytes)
            File.seek(File.size() - ShownReportBytes);
        Text = QString::fromUtf8(File.readAll());
    } else {
        Text = QStringLiteral("The report %1 could not be read: %2")
                   .arg(QDir::toNativeSeparators(ReportFileName()), File.errorString());
    }

    QDialog Dialog(Parent);
    Dialog.setObjectName(QStringLiteral("CrashReportView"));
    Dialog.setWindowTitle(QDir::toNativeSeparators(ReportFileName()));
    Dialog.resize(720, 480);
    auto* Layout = new QVBoxLayout(&Dialog);
    auto* View = new QPlainTextEdit(&Dialog);
    View->setReadOnly(true);
    View->setLineWrapMode(QPlainTextEdit::NoWrap);
    View->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    View->setPlainText(Text);
    View->verticalScrollBar()->setValue(View->verticalScrollBar()->maximum());
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Close, &Dialog);
    QObject::connect(Buttons, &QDialogButtonBox::rejected, &Dialog, &QDialog::reject);
    Layout->addWidget(View);
    Layout->addWidget(Buttons);
    Dialog.exec();
}

void TCrashReporter::SendReport(QWidget* Parent) {
    QStringList Arguments{QStringLiteral("--utf8"), QStringLiteral("--subject"), FMailSubject,
                          QStringLiteral("--attach"), ReportFileName()};
    if (FScreenshotSaved)
        Arguments << QStringLiteral("--attach") << ScreenshotFileName();
    Arguments << FMailRecipient;
    if (!QProcess::startDetached(QStringLiteral("xdg-email"), Arguments)) {
        QMessageBox::warning(Parent, QStringLiteral("Error"),
                             QStringLiteral("The mail assistant (xdg-email) could not be "
                                            "started. The report is in %1.")
                                 .arg(QDir::toNativeSeparators(ReportFileName())));
    }
}

bool TCrashReporter::Restart(QWidget* Parent) {
    TOriginalCommand Command = OriginalCommand();
    if (Command.Program.isEmpty()) {
        Command.Program = QCoreApplication::applicationFilePath();
        Command.Arguments = QCoreApplication::arguments().mid(1);
        Command.WorkingDirectory = QDir::currentPath();
    }
    if (QProcess::startDetached(Command.Program, Command.Arguments, Command.WorkingDirectory))
        return true;
    qCWarning(lcCrashReporter) << "Could not restart" << Command.Program;
    QMessageBox::warning(Parent, QStringLiteral("Error"),
                         QStringLiteral("The program %1 could not be started again.")
                             .arg(QDir::toNativeSeparators(Command.Program)));
    return false;
}

namespace {

// Qt takes its own options (-platform, -style, ...) out of argv; a restart must
// get them back, so the command is copied before the application sees it.
int RememberCommand(int& argc, char** argv) {
    TOriginalCommand& Command = OriginalCommand();
    Command.Arguments.clear();
    for (int i = 1; i < argc; ++i)
        Command.Arguments << QString::fromLocal8Bit(argv[i]);
    Command.WorkingDirectory = QDir::currentPath();
    return 0;
}

} // namespace

TReportingApplication::TReportingApplication(int& argc, char** argv)
    : QApplication((RememberCommand(argc, argv), argc), argv) {
    OriginalCommand().Program = QCoreApplication::applicationFilePath();
}

bool TReportingApplication::notify(QObject* Receiver, QEvent* Event) {
    try {
        return QApplication::notify(Receiver, Event);
    } catch (...) {
        if (FCrashReporter) {
            FCrashReporter->HandleException(std::current_exception(), Receiver, Event);
        } else {
            QString Class, Message;
            DescribeException(std::current_exception(), Class, Message);
            qCCritical(lcCrashReporter).noquote()
                << "Exception" << Class << Message << "left an event handler in"
                << DescribeReceiver(Receiver);
        }
        return false;
    }
}
