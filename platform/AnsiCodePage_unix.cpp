#include "AnsiCodePage.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

// 0x80..0x9F of Windows-1252. The five bytes the code page leaves undefined
// decode to the C1 control of the same value, as Windows does.
// clang-format off
constexpr std::array<char16_t, 32> HighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
// clang-format on

// Every byte's character, for text that is not plain ASCII.
constexpr std::array<char16_t, 256> DecodeTable = [] {
    std::array<char16_t, 256> Table{};
    for (std::size_t b = 0; b < Table.size(); ++b)
        Table[b] = (b >= 0x80 && b < 0xA0) ? HighControls[b - 0x80] : static_cast<char16_t>(b);
    return Table;
}();

char EncodeChar(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (std::size_t i = 0; i < HighControls.size(); ++i)
        if (HighControls[i] == c)
            return static_cast<char>(0x80 + i);
    return '?';
}

bool IsAscii(const unsigned char* In, qsizetype Size) {
    constexpr std::uint64_t HighBits = 0x8080808080808080u;
    qsizetype i = 0;
    for (; i + 8 <= Size; i += 8) {
        std::uint64_t Word;
        std::memcpy(&Word, In + i, sizeof Word);
        if (Word & HighBits)
            return false;
    }
    for (; i < Size; ++i)
        if (In[i] & 0x80)
            return false;
    return true;
}

} // namespace

QByteArray AnsiEncode(QStringView Text) {
    // One byte per character at most; a surrogate pair makes one.
    QByteArray Result(Text.size(), Qt::Uninitialized);
    char* Out = Result.data();
    const QChar* In = Text.data();
    const qsizetype Size = Text.size();
    qsizetype Written = 0;
    for (qsizetype i = 0; i < Size; ++i) {
        const char16_t c = In[i].unicode();
        if (c < 0x80) {
            Out[Written++] = static_cast<char>(c);
            continue;
        }
        // A character beyond the basic plane is one character: one "?".
        if (QChar::isHighSurrogate(c) && i + 1 < Size && In[i + 1].isLowSurrogate())
            ++i;
        Out[Written++] = EncodeChar(c);
    }
    Result.truncate(Written);
    return Result;
}

QString AnsiDecode(QByteArrayView Bytes) {
    const auto* In = reinterpret_cast<const unsigned char*>(Bytes.data());
    const qsizetype Size = Bytes.size();
    // Most datagrams are plain ASCII: Qt's widening is the fast path for those.
    if (IsAscii(In, Size))
        return QString::fromLatin1(Bytes);
    QString Result(Size, Qt::Uninitialized);
    char16_t* Out = reinterpret_cast<char16_t*>(Result.data());
    for (qsizetype i = 0; i < Size; ++i)
        Out[i] = DecodeTable[In[i]];
    return Result;
}
