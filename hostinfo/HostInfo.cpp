#include "HostInfo.h"

#include "IPWatch.h"
#include "ShellFolder.h"
#include "VersionInfo.h"

#include <exception>

QString GetLocalIPAddress() {
    TIPWatch Watch;
    Watch.SetHistoryEnabled(false);
    return Watch.LocalIP();
}

QString GetSpecialFolder(int Folder) {
    QString Path;
    if (!ShellFolderPath(Folder, Path))
        return QString();
    return Path;
}

QString GetCommonDocumentsFolder() {
    return GetSpecialFolder(CSIDL_COMMON_DOCUMENTS);
}

QString GetFileVersionText(const QString& FileName) {
    try {
        TVersionInfo Info;
        Info.SetFilePath(FileName);
        return QStringLiteral("%1.%2.%3")
            .arg(Info.MajorVersion())
            .arg(Info.MinorVersion())
            .arg(Info.Release());
    } catch (const std::exception&) {
        // Out of memory while reading a file: still a version text, as for an unreadable file.
        return QStringLiteral("0.0.0");
    }
}
