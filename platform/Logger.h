#pragma once
// A small logger: each entry gets a local time stamp, a level and a value, and
// goes to every output handler in the order they were registered. The logger
// owns its handlers. A new logger already holds the debug-output handler.

#include "Clock.h"

#include <QByteArrayView>
#include <QFlags>
#include <QString>
#include <QStringView>
#include <memory>
#include <mutex>
#include <vector>

enum class TLogLevel { None, Info, Error, Warning, Debug };

// "Info", "Error", "Warning", "Debug"; empty for None.
QString LogLevelName(TLogLevel Level);

enum class TLoggerOutput : unsigned { TimeStamp = 0x1, LogLevel = 0x2, Value = 0x4 };
Q_DECLARE_FLAGS(TLoggerOutputs, TLoggerOutput)
Q_DECLARE_OPERATORS_FOR_FLAGS(TLoggerOutputs)

// One entry as the handlers see it, rendered once by the logger.
struct TLoggerOutputInformation {
    TLoggerOutputs Outputs;
    TLogLevel Level = TLogLevel::None;
    QString TimeStampOutput;
    QString LogLevelOutput;
    QString ValueOutput;
};

// Removes tags: from each "<" up to the first ">" after it. A "<" that no ">"
// follows stays, with the rest of the text. Entities stay as they are.
// "<BR>", "<HR>" and "<BR/>" (any case) become one blank: a value must never
// break the one-line-per-entry form of a log file.
QString StripHTML(QStringView Text);

// "%s (Version %d.%d, Build %d, %s)" from the product name, the kernel release
// ("6.1.0-18-amd64": version 6.1, build 0) and the CPU architecture.
QString SystemInformationText(const QString& ProductName, const QString& KernelRelease,
                              const QString& Architecture);
// The same for the running system.
QString SystemInformationText();

// "Memory usage: 1023 Bytes", "Memory usage: 1.50 KB", ... up to TB.
QString MemoryUsageText(quint64 Bytes, const QString& DecimalPoint = QStringLiteral("."));
// Bytes the program holds from its heap now; 0 where the allocator can't say.
quint64 HeapBytesInUse();

class TLoggerOutputHandler {
public:
    virtual ~TLoggerOutputHandler() = default;

    bool Active() const { return FActive; }
    void SetActive(bool Value) { FActive = Value; }

    // Serialized per handler object; errors of the output pass to the caller.
    void LogOutput(const TLoggerOutputInformation& Information);

protected:
    virtual void WriteOutput(const TLoggerOutputInformation& Information) = 0;

private:
    bool FActive = true;
    std::mutex FLock;
};

// Copies each entry, outputs joined without a delimiter and HTML stripped, to the
// host's debug channel (the category lanfinder.log.debugoutput, off unless enabled;
// not "...log.debug": the logging rules would read that suffix as a message type).
class TLoggerDebugOutputHandler : public TLoggerOutputHandler {
protected:
    void WriteOutput(const TLoggerOutputInformation& Information) override;
};

// Appends one line per entry to a file: the file is opened, written in one piece
// and closed for every entry, so several writers can share it. GetEntryText forms
// the line; the bytes are in the ANSI code page, without a byte-order mark.
class TLoggerCSVOutputHandler : public TLoggerOutputHandler {
public:
    explicit TLoggerCSVOutputHandler(const QString& FileName) : FFileName(FileName) {}

    const QString& FileName() const { return FFileName; }
    const QString& Delimiter() const { return FDelimiter; }
    void SetDelimiter(const QString& Value) { FDelimiter = Value; }

    virtual QString GetEntryText(const TLoggerOutputInformation& Information) const = 0;

protected:
    void WriteOutput(const TLoggerOutputInformation& Information) override;

private:
    QString FFileName;
    QString FDelimiter = QStringLiteral(";");
};

// "yyyy-mm-dd hh:nn:ss", hours 00 to 23.
QString TimeStampText(const TLocalDateTime& At);

class TLogger {
public:
    TLogger();
    ~TLogger();
    TLogger(const TLogger&) = delete;
    TLogger& operator=(const TLogger&) = delete;

    TLoggerOutputs Outputs() const { return FOutputs; }
    void SetOutputs(TLoggerOutputs Value) { FOutputs = Value; }

    // Returns the handler, which the logger now owns.
    TLoggerOutputHandler* RegisterOutputHandler(std::unique_ptr<TLoggerOutputHandler> Handler);

    // Each returns once every handler has taken the entry. At is the moment the
    // entry is stamped with; a caller that has just read the clock passes it on.
    void Log(TLogLevel Level, const QString& Value, const TLocalDateTime& At = TClock::Now());
    void Info(const QString& Value, const TLocalDateTime& At = TClock::Now()) {
        Log(TLogLevel::Info, Value, At);
    }
    void Error(const QString& Value, const TLocalDateTime& At = TClock::Now()) {
        Log(TLogLevel::Error, Value, At);
    }
    void Warning(const QString& Value, const TLocalDateTime& At = TClock::Now()) {
        Log(TLogLevel::Warning, Value, At);
    }
    void Debug(const QString& Value, const TLocalDateTime& At = TClock::Now()) {
        Log(TLogLevel::Debug, Value, At);
    }
    // Level-less entries describing the system and the heap in use.
    void LogSystemInformation(const TLocalDateTime& At = TClock::Now());
    void LogMemoryUsage(const TLocalDateTime& At = TClock::Now());

private:
    TLoggerOutputs FOutputs =
        TLoggerOutput::TimeStamp | TLoggerOutput::LogLevel | TLoggerOutput::Value;
    std::vector<std::unique_ptr<TLoggerOutputHandler>> FHandlers;
};

// Opens the file for appending (created when missing), writes Bytes with one
// call, closes it. Raises ELogWriteError with the system's reason text.
void AppendToLogFile(const QString& FileName, QByteArrayView Bytes);

// The host's debug channel; no line end is added. Forming the text is skipped
// while nobody listens.
bool DebugOutputEnabled();
void DebugOutput(const QString& Text);
