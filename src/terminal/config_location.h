#pragma once
// Where the settings file "vostrel.ini" lives. Beside the program, as stored
// settings always were; where the program's folder takes no new files (a
// program installed for every user), or its path is so long that the file's
// whole name would pass the system's limit, in the user's configuration folder
// ($XDG_CONFIG_HOME/vostrel/, or ~/.config/vostrel/), which is made (only
// its owner may enter it) the first time the settings are written there.
// Until that folder holds a settings file, the one beside the program, if
// any, is where the settings start from: read at start-up, and copied over
// before the first write so that what closing does not rewrite (the named
// profiles, hand-made keys) is kept.
#include <string>

#include "platform/rtl/exceptions.h"

namespace terminal {

// The settings could not be read: "Can't read configuration from file", the
// file's name and the reason.
class EConfigRead : public rtl::Exception {
public:
    EConfigRead(const std::string& FileName, const std::string& Reason);
};

struct TConfigLocation {
    std::string FileName;  // written there; read there once it exists
    // For a FileName in the user's configuration folder: the settings file
    // beside the program, read instead while FileName does not exist. Empty
    // for a FileName beside the program.
    std::string SeedFileName;
};

// The place for a program in ProgramFolder (program text, with a trailing '/').
TConfigLocation ConfigLocation(const std::string& ProgramFolder);

// The file to read the settings from.
std::string ConfigSource(const TConfigLocation& Location);

// Readies a FileName in the user's configuration folder for its first write
// as told above (a FileName beside the program needs nothing). Raises
// EIniFileException "Unable to write to <file>: <the system's reason>" when
// its folder cannot be made.
void PrepareConfigFile(const TConfigLocation& Location);

}  // namespace terminal
