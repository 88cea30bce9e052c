#pragma once
// Networked tests open UDP port 15350 and broadcast: they must only ever run in
// the network lab's own namespace, never on the machine's interfaces.

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <unistd.h>

inline bool InsideNetworkLab() {
    const QString Lab = qEnvironmentVariable("LANFINDER_NETLAB");
    const QString Parent = qEnvironmentVariable("LANFINDER_NETLAB_PARENT");
    char Link[128] = {};
    const ssize_t Size = readlink("/proc/self/ns/net", Link, sizeof Link - 1);
    if (Lab.isEmpty() || Size <= 0)
        return false;
    const QString Here = QString::fromLatin1(Link, Size);
    return Here == Lab && Here != Parent;
}

// Outside the lab a test says so and exits 77, which ctest reports as skipped.
inline bool SkipOutsideNetworkLab(const char* Program) {
    if (InsideNetworkLab())
        return false;
    std::fprintf(stderr,
                 "%s: SKIPPED: not inside the network lab; run it through scripts/netlab "
                 "(ctest does)\n",
                 Program);
    return true;
}

#define LANFINDER_LAB_TEST_MAIN(TestClass)                                                         \
    int main(int argc, char* argv[]) {                                                             \
        if (SkipOutsideNetworkLab(argv[0]))                                                        \
            return 77;                                                                             \
        QCoreApplication App(argc, argv);                                                          \
        TestClass Test;                                                                            \
        return QTest::qExec(&Test, argc, argv);                                                    \
    }
