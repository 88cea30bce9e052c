#include "LocalAddress.h"

QString PickLocalIPv4Address(const QList<TLocalAdapter>& Adapters) {
    for (const TLocalAdapter& Adapter : Adapters) {
        if (Adapter.Loopback || !Adapter.Up || Adapter.ReceiveOnly)
            continue;
        for (const TLocalUnicastAddress& Entry : Adapter.Addresses) {
            if (Entry.Preferred && Entry.Address.protocol() == QAbstractSocket::IPv4Protocol)
                return Entry.Address.toString();
        }
    }
    return QString();
}
