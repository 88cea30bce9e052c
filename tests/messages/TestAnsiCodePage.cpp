// The Windows-1252 stand-in for the ANSI code page, checked byte by byte and
// character by character against the C library's own converter.
#include "AnsiCodePage.h"

#include <QTest>
#include <iconv.h>
#include <optional>

namespace {

// The five bytes Windows-1252 leaves undefined; Windows decodes each to the C1
// control of the same value, where the C library refuses them.
constexpr unsigned char Undefined[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};

bool IsUndefined(unsigned Byte) {
    for (unsigned char u : Undefined)
        if (u == Byte)
            return true;
    return false;
}

// One conversion through iconv; nothing when iconv refuses it.
std::optional<QByteArray> Iconv(const char* To, const char* From, QByteArray Input) {
    iconv_t Cd = iconv_open(To, From);
    if (Cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    QByteArray Output(16, '\0');
    char* In = Input.data();
    size_t InLeft = Input.size();
    char* Out = Output.data();
    size_t OutLeft = Output.size();
    const size_t Done = iconv(Cd, &In, &InLeft, &Out, &OutLeft);
    iconv_close(Cd);
    if (Done == static_cast<size_t>(-1) || InLeft != 0)
        return std::nullopt;
    Output.truncate(Output.size() - OutLeft);
    return Output;
}

QByteArray Utf16be(char16_t c) {
    QByteArray Bytes;
    Bytes.append(static_cast<char>(c >> 8));
    Bytes.append(static_cast<char>(c & 0xFF));
    return Bytes;
}

} // namespace

class TestAnsiCodePage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void decodesEveryByteAsWindows();
    void encodesEveryBasicPlaneCharacter();
    void everyByteStringSurvivesTheRoundTrip();
    void encode_data();
    void encode();
};

void TestAnsiCodePage::initTestCase() {
#ifdef Q_OS_WIN
    QSKIP("On Windows the host's own ANSI code page applies");
#endif
    QVERIFY2(Iconv("UTF-16BE", "WINDOWS-1252", "A"), "the C library has no WINDOWS-1252");
}

void TestAnsiCodePage::decodesEveryByteAsWindows() {
    for (unsigned Byte = 0; Byte < 256; ++Byte) {
        const QString Text = AnsiDecode(QByteArray(1, static_cast<char>(Byte)));
        QCOMPARE(Text.size(), 1);
        char16_t Expected = static_cast<char16_t>(Byte);
        if (!IsUndefined(Byte)) {
            const auto Utf16 = Iconv("UTF-16BE", "WINDOWS-1252", QByteArray(1, char(Byte)));
            QVERIFY2(Utf16 && Utf16->size() == 2, qPrintable(QString::number(Byte, 16)));
            Expected = char16_t((uchar((*Utf16)[0]) << 8) | uchar((*Utf16)[1]));
        }
        QVERIFY2(Text[0].unicode() == Expected,
                 qPrintable(QStringLiteral("byte %1 gave U+%2, not U+%3")
                                .arg(Byte, 2, 16, QLatin1Char('0'))
                                .arg(Text[0].unicode(), 4, 16, QLatin1Char('0'))
                                .arg(Expected, 4, 16, QLatin1Char('0'))));
    }
}

void TestAnsiCodePage::encodesEveryBasicPlaneCharacter() {
    for (unsigned Code = 0; Code <= 0xFFFF; ++Code) {
        const char16_t c = static_cast<char16_t>(Code);
        if (QChar(c).isSurrogate())
            continue;
        QByteArray Expected = "?";
        if (Code < 0x100 && IsUndefined(Code))
            Expected = QByteArray(1, static_cast<char>(Code));
        else if (const auto Byte = Iconv("WINDOWS-1252", "UTF-16BE", Utf16be(c)))
            Expected = *Byte;
        const QByteArray Got = AnsiEncode(QStringView(&c, 1));
        QVERIFY2(Got == Expected, qPrintable(QStringLiteral("U+%1 gave %2, not %3")
                                                 .arg(Code, 4, 16, QLatin1Char('0'))
                                                 .arg(QString::fromLatin1(Got.toHex()),
                                                      QString::fromLatin1(Expected.toHex()))));
    }
}

void TestAnsiCodePage::everyByteStringSurvivesTheRoundTrip() {
    QByteArray All;
    for (int Byte = 255; Byte >= 0; --Byte)
        All.append(static_cast<char>(Byte));
    All.append(All); // NUL in the middle too
    const QString Text = AnsiDecode(All);
    QCOMPARE(Text.size(), All.size());
    QCOMPARE(AnsiEncode(Text), All);
}

void TestAnsiCodePage::encode_data() {
    QTest::addColumn<QString>("Text");
    QTest::addColumn<QByteArray>("Bytes");

    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("ASCII with NUL") << QString::fromLatin1("a\0b", 3) << QByteArray("a\0b", 3);
    QTest::newRow("Latin-1 letters")
        << QStringLiteral(u"B\u00FCro \u00E9t\u00E9") << QByteArray("B\xFCro \xE9t\xE9");
    QTest::newRow("euro sign and typographic quotes")
        << QStringLiteral(u"\u20AC \u201Cx\u201D") << QByteArray("\x80 \x93x\x94");
    QTest::newRow("C1 control U+0080 is not in the code page")
        << QStringLiteral(u"\u0080") << QByteArray("?");
    QTest::newRow("letter beyond the code page")
        << QStringLiteral(u"\u0100\u0416") << QByteArray("??");
    QTest::newRow("character beyond the basic plane is one ?")
        << QStringLiteral(u"a\U0001F600b") << QByteArray("a?b");
    QTest::newRow("two such characters are two ?")
        << QStringLiteral(u"\U0001F600\U00010348") << QByteArray("??");
    QTest::newRow("lone high surrogate") << QString(QChar(0xD83D)) + "x" << QByteArray("?x");
    QTest::newRow("high surrogate at the end") << "x" + QString(QChar(0xD83D)) << QByteArray("x?");
    QTest::newRow("lone low surrogate") << QString(QChar(0xDE00)) + "x" << QByteArray("?x");
    QTest::newRow("low before high is two")
        << QString(QChar(0xDE00)) + QChar(0xD83D) << QByteArray("??");
    QTest::newRow("high, then a pair")
        << QString(QChar(0xD83D)) + QChar(0xD83D) + QChar(0xDE00) << QByteArray("??");
}

void TestAnsiCodePage::encode() {
    QFETCH(QString, Text);
    QFETCH(QByteArray, Bytes);
    QCOMPARE(AnsiEncode(Text), Bytes);
}

QTEST_APPLESS_MAIN(TestAnsiCodePage)
#include "TestAnsiCodePage.moc"
