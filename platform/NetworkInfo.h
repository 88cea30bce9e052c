#pragma once
// The machine's network adapters with their IPv4 addresses and subnet masks.
// Adapter 0 is the first adapter, in the system's index order, that is up, is
// not loopback and has an IPv4 address.

#include <QStringList>

class TNetworkInfo {
public:
    // Reads the adapter list afresh.
    void RefreshData();
    int AdapterCount() const;
    // Dotted texts, one per IPv4 address of the adapter, in the same order.
    QStringList IPAddresses(int Adapter) const;
    QStringList SubnetMasks(int Adapter) const;
};
