#include "Logger.h"

#include "Errors.h"

#include <QFile>
#include <QLoggingCategory>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

Q_LOGGING_CATEGORY(lcLogDebug, "lanfinder.log.debugoutput", QtInfoMsg)

QString ReasonText(int Error) {
    return QString::fromLocal8Bit(std::strerror(Error));
}

[[noreturn]] void RaiseWriteError(const QString& What, const QString& FileName,
                                  const QString& Reason) {
    throw ELogWriteError(
        QStringLiteral("Cannot %1 the log file \"%2\": %3").arg(What, FileName, Reason));
}

} // namespace

void AppendToLogFile(const QString& FileName, QByteArrayView Bytes) {
    const QByteArray Path = QFile::encodeName(FileName);
    int Fd;
    do
        Fd = ::open(Path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    while (Fd < 0 && errno == EINTR);
    if (Fd < 0)
        RaiseWriteError(QStringLiteral("open"), FileName, ReasonText(errno));

    // O_APPEND makes seek and write one step, and one write call keeps a line
    // whole when another process appends to the same file.
    ssize_t Written;
    do
        Written = ::write(Fd, Bytes.data(), static_cast<size_t>(Bytes.size()));
    while (Written < 0 && errno == EINTR);
    const int WriteError = errno;
    // A full disk can take part of a line. Cut that part off again, or the next
    // entry that fits would be glued to it and both would be unreadable.
    if (Written > 0 && Written < Bytes.size()) {
        const off_t End = ::lseek(Fd, 0, SEEK_CUR);
        if (End >= Written)
            (void)::ftruncate(Fd, End - Written);
    }
    const int Closed = ::close(Fd);
    const int CloseError = errno;

    if (Written < 0)
        RaiseWriteError(QStringLiteral("write to"), FileName, ReasonText(WriteError));
    if (Written < Bytes.size())
        RaiseWriteError(
            QStringLiteral("write to"), FileName,
            QStringLiteral("only %1 of %2 bytes were written").arg(Written).arg(Bytes.size()));
    if (Closed < 0 && CloseError != EINTR)
        RaiseWriteError(QStringLiteral("close"), FileName, ReasonText(CloseError));
}

bool DebugOutputEnabled() {
    return lcLogDebug().isDebugEnabled();
}

void DebugOutput(const QString& Text) {
    qCDebug(lcLogDebug).noquote() << Text;
}
