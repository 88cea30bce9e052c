#pragma once
// Which local address counts as "the" local IPv4 address: a rule over plain adapter
// records, so it can be shown on hand-made lists; the query fills them from the system.

#include <QHostAddress>
#include <QList>
#include <QString>

struct TLocalUnicastAddress {
    QHostAddress Address;
    // In use for new traffic: neither still being checked for duplicates nor deprecated.
    bool Preferred = true;
};

struct TLocalAdapter {
    QString Name;
    bool Loopback = false;
    bool Up = true;
    bool ReceiveOnly = false;
    QList<TLocalUnicastAddress> Addresses;
};

// First preferred IPv4 address of the adapters in the given (the system's) order,
// skipping loopback, down and receive-only adapters; empty text when none qualifies.
QString PickLocalIPv4Address(const QList<TLocalAdapter>& Adapters);

// The machine's adapters in the system's order. Raises EOSError when they can't be listed.
QList<TLocalAdapter> QueryLocalAdapters();
