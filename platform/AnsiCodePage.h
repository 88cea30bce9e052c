#pragma once
// Text to bytes and back in the host's ANSI code page. Where the host has none
// (everywhere but Windows) the stand-in is Windows-1252, the code page of the
// Windows hosts this tool talks to.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Characters the code page lacks become "?"; no byte-order mark.
QByteArray AnsiEncode(QStringView Text);

// Every byte maps to one character, NUL included.
QString AnsiDecode(QByteArrayView Bytes);
