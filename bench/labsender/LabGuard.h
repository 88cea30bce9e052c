#pragma once
// The check every lab tool makes before it opens a socket: this process must sit
// in a network namespace other than the machine's, with an interface that holds
// 198.18.0.1/24. The machine's own network is shared and watched; nothing may
// reach it.

#include <string>

namespace labsender {

struct TLabCheck {
    bool Inside = false;
    std::string Interface; // the lab interface, when Inside
    std::string Problem;   // why not, otherwise
};

TLabCheck CheckLab();

} // namespace labsender
