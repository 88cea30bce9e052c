#pragma once
// The one small family of errors the system raises; the message is the reason text.

#include <QByteArray>
#include <QString>
#include <exception>

class EError : public std::exception {
public:
    explicit EError(const QString& Message) : FMessage(Message), FWhat(Message.toUtf8()) {}
    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FWhat.constData(); }

private:
    QString FMessage;
    QByteArray FWhat;
};

// Text that is not a number or an address where one is expected.
class EConvertError : public EError {
    using EError::EError;
};

// The UDP port and the discovery endpoint: opening, naming a host, sending.
class ECommunicationError : public EError {
    using EError::EError;
};

// A log line that could not be written.
class ELogWriteError : public EError {
    using EError::EError;
};

// Any other failure of an operating-system call.
class EOSError : public EError {
    using EError::EError;
};
