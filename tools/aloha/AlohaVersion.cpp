#include "AlohaCommands.h"

QString AlohaVersionText() { return QStringLiteral("5.2.0"); }
