#pragma once
// The subcommands of the aloha tool. Each takes its own arguments (the first
// being "aloha <command>") and the streams to use, so tests can redirect them,
// and returns the exit status: 0 success, 1 nothing found or dropped, 2 error.

#include <QIODevice>
#include <QStringList>
#include <QStringView>
#include <QTextStream>

struct TCommandStreams {
    QIODevice& In;
    QTextStream& Out;
    QTextStream& Err;
};

int RunDecode(const QStringList& Arguments, TCommandStreams& Streams);
int RunFind(const QStringList& Arguments, TCommandStreams& Streams);
int RunServe(const QStringList& Arguments, TCommandStreams& Streams);
int RunListen(const QStringList& Arguments, TCommandStreams& Streams);

// An accepted message as one line of JSON: "kind" first, then the fields that
// kind reads, named as on the wire, in the order a receiver reads them.
struct TAlohaMessage;
QString AlohaMessageJson(const TAlohaMessage& Message);

// Text as a JSON string, quotes included; control characters never reach the
// terminal raw.
QString JsonString(QStringView Text);

// "5.2.0": the version record of the running program.
QString AlohaVersionText();
