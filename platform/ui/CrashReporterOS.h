#pragma once
// What the crash reporter needs from the operating system: fatal-signal handling,
// stack traces and type names. One implementation per system.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <ctime>
#include <typeinfo>

namespace CrashReporterOS {

// The text the signal handler writes after its own lines (program, version,
// system), and where it writes it; both copied, so the handler reads no Qt data.
void SetFatalReport(const QByteArray& FileName, const QByteArray& Folder,
                    const QByteArray& Details);
void InstallFatalSignalHandlers();
void RemoveFatalSignalHandlers();

QStringList CallStack(int SkipFrames);
QString TypeName(const std::type_info& Type);
// The type of the exception being handled, for one that is not a std::exception.
QString CurrentExceptionTypeName();

// "2026-12-11T11:50:02Z" into Buffer without a terminator, safe inside a signal
// handler; returns the number of characters (20), or 0 when Size is too small.
std::size_t FormatUtcTime(std::time_t Seconds, char* Buffer, std::size_t Size);

} // namespace CrashReporterOS
