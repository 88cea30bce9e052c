#pragma once
// The shell's special folders by number (CSIDL). Only asks; never creates a folder.

#include <QString>

// The documents folder shared by all users of the machine.
constexpr int CSIDL_COMMON_DOCUMENTS = 46;

// Path of the folder with the given number; false when the system can't report it.
bool ShellFolderPath(int Folder, QString& Path);
