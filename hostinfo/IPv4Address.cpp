#include "IPv4Address.h"

#include "Errors.h"

#include <limits>

namespace {

// Decimal only: leading blanks, one sign, digits, nothing after them, within a signed
// 32-bit integer. The callers pass adapter addresses, never hexadecimal text.
qint32 PartToInteger(const QString& Part) {
    qsizetype i = 0;
    const qsizetype n = Part.size();
    while (i < n && Part[i] == u' ')
        ++i;
    bool Negative = false;
    if (i < n && (Part[i] == u'+' || Part[i] == u'-')) {
        Negative = Part[i] == u'-';
        ++i;
    }
    const qsizetype FirstDigit = i;
    // Magnitude of the most negative value; a positive one may be one less.
    const qint64 Limit = qint64(std::numeric_limits<qint32>::max()) + (Negative ? 1 : 0);
    qint64 Value = 0;
    for (; i < n; ++i) {
        const char16_t c = Part[i].unicode();
        if (c < u'0' || c > u'9')
            break;
        Value = Value * 10 + (c - u'0');
        if (Value > Limit)
            break;
    }
    if (i == FirstDigit || i != n)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(Part));
    return qint32(Negative ? -Value : Value);
}

} // namespace

TIPv4Address StrToIPv4Address(const QString& Text) {
    const QString Work = Text.isEmpty() ? QStringLiteral("0.0.0.0") : Text;
    TIPv4Address Address;
    qsizetype Start = 0;
    int k = 0;
    for (;;) {
        const qsizetype Point = Work.indexOf(u'.', Start);
        if (k == 4)
            throw EConvertError(
                QStringLiteral("'%1' is not a valid IPv4 address: it has more than four parts")
                    .arg(Text));
        const QString Part = Work.mid(Start, Point < 0 ? -1 : Point - Start);
        // Values outside 0..255 keep their low 8 bits, as the callers have always seen.
        Address.Octets[k++] = quint8(quint32(PartToInteger(Part)) & 0xFF);
        if (Point < 0)
            break;
        Start = Point + 1;
    }
    if (k < 4)
        throw EConvertError(
            QStringLiteral("'%1' is not a valid IPv4 address: it has %2 of four parts")
                .arg(Text, QString::number(k)));
    return Address;
}

QString IPv4AddressToStr(TIPv4Address Address) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(uint(Address.Octets[0]))
        .arg(uint(Address.Octets[1]))
        .arg(uint(Address.Octets[2]))
        .arg(uint(Address.Octets[3]));
}

quint32 IPv4AddressToValue(TIPv4Address Address) {
    return quint32(Address.Octets[0]) << 24 | quint32(Address.Octets[1]) << 16 |
           quint32(Address.Octets[2]) << 8 | quint32(Address.Octets[3]);
}

TIPv4Address ValueToIPv4Address(quint32 Value) {
    TIPv4Address Address;
    Address.Octets = {quint8(Value >> 24), quint8(Value >> 16), quint8(Value >> 8), quint8(Value)};
    return Address;
}
