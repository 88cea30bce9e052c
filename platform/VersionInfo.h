#pragma once
// The version record of a program file. Starts out with the running program's own
// record; a file without one, or one that can't be read, has version 0.0.0.0.

#include <QString>
#include <QtGlobal>

class TVersionInfo {
public:
    TVersionInfo();

    const QString& FilePath() const { return FFilePath; }
    // Reads the named file's record when the name differs from the current one (exact
    // comparison); an empty name means the running program.
    void SetFilePath(const QString& Value);

    quint16 MajorVersion() const { return FMajorVersion; }
    quint16 MinorVersion() const { return FMinorVersion; }
    quint16 Release() const { return FRelease; }
    quint16 Build() const { return FBuild; }

private:
    void Read();

    QString FFilePath;
    quint16 FMajorVersion = 0;
    quint16 FMinorVersion = 0;
    quint16 FRelease = 0;
    quint16 FBuild = 0;
};

#ifndef _WIN32
// The "version" of the package-metadata note (owner "FDO", type 0xcafe1a7e) of an ELF
// file, or empty text when the file can't be read or carries no such note.
QString ReadElfPackageVersion(const QString& FileName);
#endif
