#include "AlohaCommands.h"

#include "HostInfo.h"

QString AlohaVersionText() {
    return GetFileVersionText(QString());
}
