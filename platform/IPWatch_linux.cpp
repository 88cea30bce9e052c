#include "IPWatch.h"

#include "LocalAddress.h"

QString TIPWatch::LocalIP() const {
    return PickLocalIPv4Address(QueryLocalAdapters());
}
