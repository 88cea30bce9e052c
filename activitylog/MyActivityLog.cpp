#include "MyActivityLog.h"

#include "Clock.h"
#include "HostInfo.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

namespace {

Q_LOGGING_CATEGORY(lcActivityLog, "lanfinder.activitylog", QtInfoMsg)

const QChar PathDelim = QDir::separator();

QString WithTrailingDelim(const QString& Path) {
    return Path.endsWith(PathDelim) ? Path : Path + PathDelim;
}

// Clears the busy flag however the entry ends, so one failed write does not
// silence the log for good.
class TBusyScope {
public:
    explicit TBusyScope(bool& Busy) : FBusy(Busy) { FBusy = true; }
    ~TBusyScope() { FBusy = false; }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

private:
    bool& FBusy;
};

} // namespace

QString TActivityLog::LogFileName(const QString& Prefix, QDate Date) {
    return Prefix + QLatin1Char('-') + Date.toString(QStringLiteral("yyyy-MM-dd")) +
           QStringLiteral(".logfile");
}

QString TActivityLog::LogFolderPath(const QString& DocumentsFolder, const QString& ALogFolder) {
    return WithTrailingDelim(DocumentsFolder) + QStringLiteral("Ternwick Software") + PathDelim +
           QStringLiteral("Quillory 5") + PathDelim + ALogFolder;
}

QString TActivityLog::RemoveLineBreaks(const QString& S) {
    if (!S.contains(QChar(u'\n')) && !S.contains(QChar(u'\r')))
        return S;
    QString Result = S;
    Result.remove(QChar(u'\n'));
    Result.remove(QChar(u'\r'));
    return Result;
}

TActivityLog::TActivityLog(const QString& ALogFolder, const QString& ALogFilenamePrefix)
    : FLogFilenamePrefix(ALogFilenamePrefix),
      FLogFolder(LogFolderPath(GetCommonDocumentsFolder(), ALogFolder)) {
    // A folder that can't be made shows up as a write error at the first entry.
    if (!QFileInfo(FLogFolder).isDir() && !QDir().mkpath(FLogFolder))
        qCWarning(lcActivityLog) << "Cannot create the log folder" << FLogFolder;
    CheckLogDate(TClock::CurrentDate());
    FBusy = false;
    FActive = true;
}

TActivityLog::~TActivityLog() = default;

void TActivityLog::CreateLogger(QDate Today) {
    FLogger = std::make_unique<TLogger>();
    const QString Path = WithTrailingDelim(FLogFolder) + LogFileName(FLogFilenamePrefix, Today);
    FLogger->RegisterOutputHandler(std::make_unique<TLoggerCSVOutputHandlerEx>(Path));
    FLogger->SetOutputs(TLoggerOutput::TimeStamp | TLoggerOutput::LogLevel | TLoggerOutput::Value);
    FLogDate = Today;
}

void TActivityLog::CheckLogDate(QDate Today) {
    // Any change counts, also a clock set back: the file always carries the date
    // its entries were made on.
    if (FLogger && Today == FLogDate)
        return;
    FLogger.reset();
    CreateLogger(Today);
}

template <typename Write> void TActivityLog::AddEntry(Write&& ToLogger) {
    if (!FActive || FBusy)
        return;
    const TBusyScope Busy(FBusy);
    // One reading for both, so the time stamp always matches the file's date.
    const TLocalDateTime Now = TClock::Now();
    CheckLogDate(Now.Date);
    ToLogger(*FLogger, Now);
}

void TActivityLog::AddLogEntry(const QString& S) {
    AddEntry([&S](TLogger& Logger, const TLocalDateTime& Now) {
        Logger.Info(RemoveLineBreaks(S), Now);
    });
}

void TActivityLog::AddErrorEntry(const QString& S) {
    AddEntry([&S](TLogger& Logger, const TLocalDateTime& Now) {
        Logger.Error(RemoveLineBreaks(S), Now);
    });
}

void TActivityLog::AddWarningEntry(const QString& S) {
    AddEntry([&S](TLogger& Logger, const TLocalDateTime& Now) {
        Logger.Warning(RemoveLineBreaks(S), Now);
    });
}

void TActivityLog::AddDebugEntry(const QString& S) {
    AddEntry([&S](TLogger& Logger, const TLocalDateTime& Now) {
        Logger.Debug(RemoveLineBreaks(S), Now);
    });
}

void TActivityLog::AddSystemInformation() {
    AddEntry([](TLogger& Logger, const TLocalDateTime& Now) { Logger.LogSystemInformation(Now); });
}

void TActivityLog::AddMemoryUsage() {
    AddEntry([](TLogger& Logger, const TLocalDateTime& Now) { Logger.LogMemoryUsage(Now); });
}

QString TLoggerCSVOutputHandlerEx::GetEntryText(const TLoggerOutputInformation& Information) const {
    const QString& Delim = Delimiter();
    QString Text;
    Text.reserve(Information.TimeStampOutput.size() + Information.LogLevelOutput.size() +
                 Information.ValueOutput.size() + 3 * Delim.size() + 2);
    if (Information.Outputs & TLoggerOutput::TimeStamp)
        Text.append(Information.TimeStampOutput).append(Delim);
    if (Information.Outputs & TLoggerOutput::LogLevel)
        Text.append(Information.LogLevelOutput).append(Delim);
    if (Information.Outputs & TLoggerOutput::Value)
        Text.append(Information.ValueOutput).append(Delim);
    if (Text.contains(u'<'))
        Text = StripHTML(Text);
    return Text.append(QStringLiteral("\r\n"));
}
