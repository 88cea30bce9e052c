#pragma once
// A component's per-day activity log: single-line, levelled entries appended to
// <common documents>/Ternwick Software/Quillory 5/<folder>/<prefix>-yyyy-mm-dd.logfile.
// Errors of the file handler (ELogWriteError) pass out of the Add operations.

#include <QString>
#include <memory>

class TLogger;

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

private:
    bool FActive = false;
    bool FBusy = false;
    QString FLogFolder;
    QString FLogFilenamePrefix;
    std::unique_ptr<TLogger> FLogger;
};
