#pragma once
// A component's per-day activity log: single-line, levelled entries appended to
// <common documents>/Ternwick Software/Quillory 5/<folder>/<prefix>-yyyy-mm-dd.logfile.
// Errors of the file handler (ELogWriteError) pass out of the Add operations.

#include "Logger.h"

#include <QDate>
#include <QString>
#include <memory>

class TActivityLog {
public:
    TActivityLog(const QString& ALogFolder, const QString& ALogFilenamePrefix);
    ~TActivityLog();
    TActivityLog(const TActivityLog&) = delete;
    TActivityLog& operator=(const TActivityLog&) = delete;

    void AddLogEntry(const QString& S);
    void AddErrorEntry(const QString& S);
    void AddWarningEntry(const QString& S);
    void AddDebugEntry(const QString& S);
    void AddSystemInformation();
    void AddMemoryUsage();

    bool Active() const { return FActive; }
    void SetActive(bool Value) { FActive = Value; }

    // Full path of the folder that holds the files, without a trailing delimiter.
    const QString& LogFolder() const { return FLogFolder; }

    // The rules behind the file, as plain functions.
    // "Aloha" on 5 March 2018 gives "Aloha-2018-03-05.logfile".
    static QString LogFileName(const QString& Prefix, QDate Date);
    // The log folder below a documents folder (empty when the host has none).
    static QString LogFolderPath(const QString& DocumentsFolder, const QString& ALogFolder);
    // Every LF, then every CR, removed; nothing put in their place.
    static QString RemoveLineBreaks(const QString& S);

private:
    void CreateLogger(QDate Today);
    void CheckLogDate(QDate Today);
    template <typename Write> void AddEntry(Write&& ToLogger);

    bool FActive = false;
    bool FBusy = false;
    QDate FLogDate;
    QString FLogFilenamePrefix;
    QString FLogFolder;
    std::unique_ptr<TLogger> FLogger;
};

// The day's file handler: each entry is "time stamp;level;value;" and CR LF, with
// HTML stripped and no header line.
class TLoggerCSVOutputHandlerEx : public TLoggerCSVOutputHandler {
public:
    using TLoggerCSVOutputHandler::TLoggerCSVOutputHandler;
    QString GetEntryText(const TLoggerOutputInformation& Information) const override;
};
