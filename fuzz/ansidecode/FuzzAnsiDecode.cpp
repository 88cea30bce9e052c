// The code page layer both ways. Every byte string decodes to as many
// characters and encodes back to itself; any UTF-16 text encodes to one byte
// per character (a surrogate pair being one), the byte of the character where
// the code page has one and "?" elsewhere.
#include "AnsiCodePage.h"

#include <array>
#include <cstddef>
#include <cstdint>

#define FUZZ_CHECK(Condition)                                                                      \
    do {                                                                                           \
        if (!(Condition))                                                                          \
            __builtin_trap();                                                                      \
    } while (false)

namespace {

// Byte of each basic-plane character in the code page, -1 where it has none;
// derived from the decoder, so the two directions are checked against each other.
std::array<int, 0x10000> EncodingTable() {
    std::array<int, 0x10000> Table;
    Table.fill(-1);
    for (int Byte = 0; Byte < 256; ++Byte) {
        const QString Text = AnsiDecode(QByteArray(1, static_cast<char>(Byte)));
        FUZZ_CHECK(Text.size() == 1 && !Text[0].isSurrogate());
        FUZZ_CHECK(Table[Text[0].unicode()] == -1); // no two bytes decode alike
        Table[Text[0].unicode()] = Byte;
    }
    return Table;
}

void CheckBytes(QByteArrayView Bytes) {
    const QString Text = AnsiDecode(Bytes);
    FUZZ_CHECK(Text.size() == Bytes.size());
    FUZZ_CHECK(AnsiEncode(Text) == Bytes);
}

void CheckText(QStringView Text) {
    static const std::array<int, 0x10000> Table = EncodingTable();
    const QByteArray Bytes = AnsiEncode(Text);
    qsizetype Out = 0;
    for (qsizetype i = 0; i < Text.size(); ++i, ++Out) {
        FUZZ_CHECK(Out < Bytes.size());
        const QChar c = Text[i];
        int Expected = '?';
        if (c.isHighSurrogate() && i + 1 < Text.size() && Text[i + 1].isLowSurrogate())
            ++i;
        else if (!c.isSurrogate() && Table[c.unicode()] >= 0)
            Expected = Table[c.unicode()];
        FUZZ_CHECK(static_cast<unsigned char>(Bytes[Out]) == Expected);
    }
    FUZZ_CHECK(Out == Bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    CheckBytes(QByteArrayView(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size)));
    QString Text(static_cast<qsizetype>(Size / 2), Qt::Uninitialized);
    for (size_t i = 0; i + 1 < Size; i += 2)
        Text[static_cast<qsizetype>(i / 2)] =
            QChar(static_cast<char16_t>(Data[i] | Data[i + 1] << 8));
    CheckText(Text);
    return 0;
}
