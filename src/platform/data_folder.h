#pragma once
// Where the program keeps its files.
#include <filesystem>

namespace ferretta::platform {

// The user's home: $HOME, else the password database's entry; empty when neither knows one.
std::filesystem::path homeFolder();

// The folder of the running executable (from /proc/self/exe); the current folder when that
// cannot be read.
std::filesystem::path executableFolder();

// Read-only data (character tables, icons): beside the executable when the file is there,
// else in ../share/ferretta relative to it. Answers the first candidate that exists, or the
// path beside the executable when none does.
std::filesystem::path findDataFile(const std::filesystem::path& name);

// Whether a program in this folder was installed for the whole system: the folder lies under
// /usr, /usr/local or /opt (compared as written, after removing "." and ".." parts).
bool isSystemProgramFolder(const std::filesystem::path& folder);

// The folder for the settings file, the debug log and temporary files: $FERRETTA_HOME when
// set, else the executable's folder when it is writable and not a system one (a portable copy,
// the build tree), else $XDG_CONFIG_HOME/ferretta (~/.config/ferretta), for root too. The
// folder is created when missing; failures to create it are left to the first write to report.
std::filesystem::path dataFolder();

}  // namespace ferretta::platform
