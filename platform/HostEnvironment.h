#pragma once
// The host's environment; only its computer name is asked for.

#include <QString>

class THostEnvironment {
public:
    // The short computer name (at most 15 characters, case unchanged), or empty.
    QString ComputerName() const;
};

#ifndef _WIN32
// A host name's first label, cut to 15 characters: where the system has no NetBIOS
// name, this is the name the servers' Windows peers would show.
QString ShortComputerName(const QString& HostName);
#endif
