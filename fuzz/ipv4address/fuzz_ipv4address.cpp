// Text arrives as UTF-8 bytes. Any escape other than EConvertError ends the run as a crash.
#include "Errors.h"
#include "IPv4Address.h"

#include <QRegularExpression>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const QString Text = QString::fromUtf8(reinterpret_cast<const char*>(Data), qsizetype(Size));
    TIPv4Address Address;
    try {
        Address = StrToIPv4Address(Text);
    } catch (const EConvertError& E) {
        if (E.Message().isEmpty())
            std::abort();
        return 0;
    }

    const QString Printed = IPv4AddressToStr(Address);
    if (StrToIPv4Address(Printed) != Address ||
        ValueToIPv4Address(IPv4AddressToValue(Address)) != Address)
        std::abort();
    // Text already in printed form (four plain decimal octets) reads back unchanged.
    static const QRegularExpression Canonical(
        QStringLiteral("^(0|[1-9][0-9]?|1[0-9][0-9]|2[0-4][0-9]|25[0-5])"
                       "(\\.(0|[1-9][0-9]?|1[0-9][0-9]|2[0-4][0-9]|25[0-5])){3}$"));
    if (Canonical.match(Text).hasMatch() && Printed != Text)
        std::abort();
    return 0;
}
