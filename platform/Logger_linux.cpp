#include "Logger.h"

#include <malloc.h>

quint64 HeapBytesInUse() {
    // Small blocks from the arenas plus the large ones mapped on their own.
    const struct mallinfo2 Info = ::mallinfo2();
    return static_cast<quint64>(Info.uordblks) + static_cast<quint64>(Info.hblkhd);
}
