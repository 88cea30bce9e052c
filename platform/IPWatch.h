#pragma once
// The first local IPv4 address. Never runs in the background and never writes
// an address history, whatever HistoryEnabled says.

#include <QString>

class TIPWatch {
public:
    bool HistoryEnabled() const { return FHistoryEnabled; }
    void SetHistoryEnabled(bool Value) { FHistoryEnabled = Value; }
    bool Active() const { return FActive; }
    void SetActive(bool Value) { FActive = Value; }

    // Asks the system afresh; empty text when no adapter qualifies.
    QString LocalIP() const;

private:
    bool FHistoryEnabled = true;
    bool FActive = false;
};
