#pragma once
// Queries about the local machine. Each asks the system afresh and never raises
// for a machine that has nothing to report.

#include <QString>

// First preferred IPv4 address of the first qualifying adapter, or empty text.
QString GetLocalIPAddress();
// The folder with the given shell folder number, or empty text; never created.
QString GetSpecialFolder(int Folder);
QString GetCommonDocumentsFolder();
// "major.minor.release" of a program file's version record; "0.0.0" when it has
// none or can't be read. An empty name means the running program.
QString GetFileVersionText(const QString& FileName);
