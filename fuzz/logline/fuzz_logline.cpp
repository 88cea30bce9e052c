// Any entry text, read as UTF-8 or UTF-16, goes the way an activity log entry
// goes to the file: line breaks removed, the line formed and stripped, encoded.
// The bytes must hold exactly one CR LF, at the end, and no tag may survive.

#include "AnsiCodePage.h"
#include "MyActivityLog.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool Condition) {
    if (!Condition)
        std::abort();
}

QString TextOf(const std::uint8_t* Data, std::size_t Size, bool Utf16) {
    if (!Utf16)
        return QString::fromUtf8(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
    std::u16string Units(Size / 2, u'\0');
    std::memcpy(Units.data(), Data, Units.size() * 2);
    return QString::fromStdU16String(Units);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    if (Size == 0)
        return 0;
    // The first byte chooses the reading and the level.
    const std::uint8_t Mode = Data[0];
    static constexpr TLogLevel Levels[] = {TLogLevel::Info, TLogLevel::Error, TLogLevel::Warning,
                                           TLogLevel::Debug, TLogLevel::None};
    const TLogLevel Level = Levels[(Mode >> 1) % 5];

    TLoggerOutputInformation Information;
    Information.Outputs = TLoggerOutput::TimeStamp | TLoggerOutput::LogLevel | TLoggerOutput::Value;
    Information.Level = Level;
    Information.TimeStampOutput = QStringLiteral("2018-03-05 14:07:09");
    Information.LogLevelOutput = LogLevelName(Level);
    Information.ValueOutput = TActivityLog::RemoveLineBreaks(TextOf(Data + 1, Size - 1, Mode & 1));

    static const TLoggerCSVOutputHandlerEx Handler(QStringLiteral("unused.logfile"));
    const QString Line = Handler.GetEntryText(Information);
    const QByteArray Bytes = AnsiEncode(Line);

    Check(Bytes.endsWith("\r\n"));
    Check(Bytes.count('\r') == 1 && Bytes.count('\n') == 1);
    const QString Head = Information.TimeStampOutput + u';' + Information.LogLevelOutput + u';';
    Check(Line.startsWith(Head));
    Check(Line.endsWith(QStringLiteral(";\r\n")));
    // Whatever "<" is left has no ">" after it: every tag is gone.
    const qsizetype Open = Line.indexOf(u'<');
    Check(Open < 0 || Line.indexOf(u'>', Open) < 0);
    return 0;
}
