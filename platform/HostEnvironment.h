#pragma once
// The host's environment; only its computer name is asked for.

#include <QString>

class THostEnvironment {
public:
    // The short computer name (at most 15 characters, case unchanged), or empty.
    QString ComputerName() const;
};
