#include "ShellFolder.h"

#include <QDir>
#include <QtGlobal>

namespace {

// Relative values are invalid under the XDG base-directory rules and are passed over.
QString AbsoluteEnvironmentPath(const char* Name) {
    const QString Value = qEnvironmentVariable(Name);
    return QDir::isAbsolutePath(Value) ? Value : QString();
}

} // namespace

// A Linux machine has no all-users documents folder. The per-user state directory is
// where the XDG base-directory convention puts logs, so the common documents folder
// stands for it; other folder numbers have no counterpart here.
bool ShellFolderPath(int Folder, QString& Path) {
    if (Folder != CSIDL_COMMON_DOCUMENTS)
        return false;
    QString State = AbsoluteEnvironmentPath("XDG_STATE_HOME");
    if (State.isEmpty()) {
        QString Home = AbsoluteEnvironmentPath("HOME");
        if (Home.isEmpty())
            return false;
        while (Home.size() > 1 && Home.endsWith(u'/'))
            Home.chop(1);
        State = (Home == u"/" ? QString() : Home) + QStringLiteral("/.local/state");
    }
    Path = State;
    return true;
}
