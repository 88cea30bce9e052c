#include "AnsiCodePage.h"

#include <array>

namespace {

// 0x80..0x9F of Windows-1252. The five bytes the code page leaves undefined
// decode to the C1 control of the same value, as Windows does.
constexpr std::array<char16_t, 32> HighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char EncodeChar(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (std::size_t i = 0; i < HighControls.size(); ++i)
        if (HighControls[i] == c)
            return static_cast<char>(0x80 + i);
    return '?';
}

} // namespace

QByteArray AnsiEncode(QStringView Text) {
    QByteArray Result;
    Result.reserve(Text.size());
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const QChar c = Text[i];
        // A character beyond the basic plane is one character: one "?".
        if (c.isHighSurrogate() && i + 1 < Text.size() && Text[i + 1].isLowSurrogate())
            ++i;
        Result.append(EncodeChar(c.unicode()));
    }
    return Result;
}

QString AnsiDecode(QByteArrayView Bytes) {
    QString Result(Bytes.size(), Qt::Uninitialized);
    QChar* Out = Result.data();
    for (qsizetype i = 0; i < Bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(Bytes[i]);
        Out[i] = (b >= 0x80 && b < 0xA0) ? QChar(HighControls[b - 0x80]) : QChar(b);
    }
    return Result;
}
