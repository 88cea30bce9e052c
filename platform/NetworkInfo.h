#pragma once
// The machine's network adapters with their IPv4 addresses and subnet masks.
// Adapter 0 is the first adapter, in the system's index order, that is up, is
// not loopback and has an IPv4 address.

#include <QStringList>
#include <vector>

class TNetworkInfo {
public:
    // One interface as the system lists it.
    struct TInterface {
        int Index = 0;
        bool Up = false;
        bool Loopback = false;
        QStringList IPAddresses;
        QStringList SubnetMasks;
    };

    // Reads the adapter list afresh.
    void RefreshData();
    int AdapterCount() const;
    // Dotted texts, one per IPv4 address of the adapter, in the same order.
    // An adapter number out of range raises EOSError.
    QStringList IPAddresses(int Adapter) const;
    QStringList SubnetMasks(int Adapter) const;

    // The interfaces that count as adapters, in index order.
    static std::vector<TInterface> SelectAdapters(std::vector<TInterface> Interfaces);

private:
    const TInterface& Adapter(int Number) const;

    std::vector<TInterface> FAdapters;
};
