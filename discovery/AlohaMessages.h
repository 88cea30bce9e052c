#pragma once
// The text of "aloha" discovery messages: building, splitting into lines,
// reading fields and classifying a received text. No state, no I/O.

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QtGlobal>
#include <optional>

enum class TAlohaMessageKind {
    ServerAnnounce,
    ServerHello,
    ServerGoodbye,
    FindServerResponse,
    FindServer
};

inline constexpr qint32 DefaultServerPort = 12600; // a missing or unreadable server_port

QString BuildFindServerMessage(const QString& Application, const QString& LocalIPAddress);
QString BuildFindServerResponseMessage(const QString& Application, const QString& ComputerName,
                                       const QString& LocalIPAddress, qint32 ServerPort);
QString BuildServerAnnounceMessage(const QString& Application, const QString& ServerIPAddress,
                                   qint32 ServerPort, const QString& ServerName);
QString BuildServerHelloMessage(const QString& Application, const QString& ServerName,
                                const QString& LocalIPAddress);
QString BuildServerGoodbyeMessage(const QString& Application, const QString& ServerName,
                                  const QString& LocalIPAddress);

// Lines up to the first NUL; CR LF, CR or LF each end one line.
QStringList SplitMessageLines(QStringView Text);
// Every line followed by CR LF.
QString JoinMessageLines(const QStringList& Lines);
// Value of the first line whose name matches without regard to case; empty when none.
QString ReadField(const QStringList& Lines, QStringView Name);
// server_port read with the platform's integer rules; DefaultServerPort when unreadable.
qint32 ReadPortField(const QStringList& Lines);
// The platform's integer rules: leading blanks, a sign, then decimal digits, or
// hexadecimal ones after "$", "x" or "0x", and nothing after them. Decimal must
// fit a signed 32-bit integer; hexadecimal may spell up to 32 bits and wraps as
// the platform's own reader does ($FFFFFFFF is -1). Nothing when unreadable.
std::optional<qint32> ParseInteger(QStringView Text);
// The kind of an accepted text, or nothing when it is dropped.
std::optional<TAlohaMessageKind> ClassifyMessage(const QStringList& Lines,
                                                 const QString& Application);

// The fields a receiver reads, by kind (missing ones empty, port DefaultServerPort).
struct TAlohaMessage {
    TAlohaMessageKind Kind;
    QString ComputerName;  // find_server
    QString FromIPAddress; // find_server
    QString ServerName;
    QString ServerIPAddress;
    qint32 ServerPort = DefaultServerPort;
};
std::optional<TAlohaMessage> DecodeMessage(QStringView Text, const QString& Application);

// The message_type text of a kind.
QString MessageKindText(TAlohaMessageKind Kind);
