#include "AlohaCommands.h"

int RunServe(const QStringList&, TCommandStreams& Streams) {
    Streams.Err << "aloha: this command is not available yet\n";
    return 2;
}
