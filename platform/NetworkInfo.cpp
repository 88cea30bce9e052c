#include "NetworkInfo.h"

#include "Errors.h"

#include <QNetworkInterface>
#include <algorithm>

std::vector<TNetworkInfo::TInterface>
TNetworkInfo::SelectAdapters(std::vector<TInterface> Interfaces) {
    std::stable_sort(Interfaces.begin(), Interfaces.end(),
                     [](const TInterface& A, const TInterface& B) { return A.Index < B.Index; });
    std::erase_if(Interfaces, [](const TInterface& Interface) {
        return !Interface.Up || Interface.Loopback || Interface.IPAddresses.isEmpty();
    });
    return Interfaces;
}

void TNetworkInfo::RefreshData() {
    std::vector<TInterface> Interfaces;
    for (const QNetworkInterface& Found : QNetworkInterface::allInterfaces()) {
        TInterface Interface;
        Interface.Index = Found.index();
        Interface.Up = Found.flags().testFlag(QNetworkInterface::IsUp);
        Interface.Loopback = Found.flags().testFlag(QNetworkInterface::IsLoopBack);
        for (const QNetworkAddressEntry& Entry : Found.addressEntries()) {
            if (Entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            Interface.IPAddresses << Entry.ip().toString();
            Interface.SubnetMasks << Entry.netmask().toString();
        }
        Interfaces.push_back(std::move(Interface));
    }
    FAdapters = SelectAdapters(std::move(Interfaces));
}

int TNetworkInfo::AdapterCount() const {
    return static_cast<int>(FAdapters.size());
}

const TNetworkInfo::TInterface& TNetworkInfo::Adapter(int Number) const {
    if (Number < 0 || Number >= AdapterCount())
        throw EOSError(QStringLiteral("No network adapter %1 (%2 adapters with an IPv4 address)")
                           .arg(Number)
                           .arg(AdapterCount()));
    return FAdapters[static_cast<std::size_t>(Number)];
}

QStringList TNetworkInfo::IPAddresses(int Adapter) const {
    return this->Adapter(Adapter).IPAddresses;
}

QStringList TNetworkInfo::SubnetMasks(int Adapter) const {
    return this->Adapter(Adapter).SubnetMasks;
}
