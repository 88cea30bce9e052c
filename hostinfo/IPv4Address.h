#pragma once
// IPv4 addresses as dotted text, four octets and a 32-bit number for mask arithmetic.

#include <QString>
#include <QtGlobal>
#include <array>

// Octet 0 is the first dotted part.
struct TIPv4Address {
    std::array<quint8, 4> Octets{};
    friend bool operator==(const TIPv4Address&, const TIPv4Address&) = default;
};

// Raises EConvertError "'<part>' is not a valid integer value" for a bad part.
TIPv4Address StrToIPv4Address(const QString& Text);
QString IPv4AddressToStr(TIPv4Address Address);
// Octet 0 is the most significant byte.
quint32 IPv4AddressToValue(TIPv4Address Address);
TIPv4Address ValueToIPv4Address(quint32 Value);
