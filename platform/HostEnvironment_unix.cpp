#include "HostEnvironment.h"

#include <climits>
#include <unistd.h>

QString ShortComputerName(const QString& HostName) {
    // What the kernel holds until a name has been set: no name at all.
    if (HostName == u"(none)")
        return QString();
    QString Name = HostName.left(HostName.indexOf(u'.'));
    if (Name.size() > 15) {
        // Never leave half of a surrogate pair behind.
        Name.truncate(Name[14].isHighSurrogate() ? 14 : 15);
    }
    return Name;
}

// The nearest thing to a NetBIOS name: the host name's first label, at most 15 characters.
QString THostEnvironment::ComputerName() const {
    char Buffer[HOST_NAME_MAX + 1] = {};
    if (gethostname(Buffer, sizeof Buffer - 1) != 0)
        return QString();
    return ShortComputerName(QString::fromLocal8Bit(Buffer));
}
