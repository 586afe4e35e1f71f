#include "terminal/config_location.h"

#include <limits.h>
#include <sys/stat.h>

#include <cstdlib>
#include <exception>

#include "platform/rtl/failure_trace.h"
#include "platform/rtl/files.h"
#include "platform/vcl/file_save.h"
#include "platform/vcl/ini_files.h"
#include "platform/vcl/regular_file.h"
#include "platform/vcl/streams.h"

namespace terminal {

namespace {

constexpr const char* kFileName = "vostrel.ini";

// Anything under the name, also what cannot be read as a file: reading it
// then reports why, instead of quietly reading another file.
bool Present(const std::string& Name) {
    struct stat st {};
    return !Name.empty() && ::lstat(rtl::SysPath(Name).c_str(), &st) == 0;
}

}  // namespace

EConfigRead::EConfigRead(const std::string& FileName, const std::string& Reason)
    : rtl::Exception("Can't read configuration from file \"" + FileName + "\"\r\r" + Reason) {}

TConfigLocation ConfigLocation(const std::string& ProgramFolder) {
    const std::string beside = rtl::IncludeTrailingPathDelimiter(ProgramFolder) + kFileName;
    // Beside the program whenever its folder takes new files and the
    // settings file's whole name is one the system takes, however close to
    // its limit: only a folder where the file could not be named at all
    // moves the settings elsewhere.
    if (rtl::SysPath(beside).size() < PATH_MAX && rtl::FolderTakesNewFiles(ProgramFolder)) return {beside, {}};
    std::string base;
    // The variable counts only with an absolute path; a relative one would
    // depend on the folder the program happens to start in.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        base = rtl::FromSysPath(xdg);
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = rtl::IncludeTrailingPathDelimiter(rtl::FromSysPath(home)) + ".config";
    else
        return {beside, {}};
    return {rtl::IncludeTrailingPathDelimiter(base) + "vostrel/" + kFileName, beside};
}

std::string ConfigSource(const TConfigLocation& Location) {
    if (!Present(Location.FileName) && Present(Location.SeedFileName)) return Location.SeedFileName;
    return Location.FileName;
}

void PrepareConfigFile(const TConfigLocation& Location) {
    if (Location.SeedFileName.empty()) return;
    if (const int error = rtl::ForceDirectories(rtl::ExtractFilePath(Location.FileName), 0700))
        throw vcl::EIniFileException("Unable to write to " + Location.FileName + ": " + vcl::SysErrorMessage(error));
    if (ConfigSource(Location) == Location.FileName) return;
    std::string seed;
    try {
        seed = vcl::LoadRegularFile(Location.SeedFileName);
    } catch (const std::exception&) {
        // The settings are written afresh: what the program holds goes into
        // the new file, and the file beside the program stays as it is.
        // Start-up has said why it could not read it, when it could not then;
        // one that became unreadable since is told nowhere else.
        rtl::TraceFailure(std::current_exception(), "copying the settings beside the program");
        return;
    }
    vcl::SaveWholeFile(Location.FileName, [&](vcl::TSaveOutput& Out) { Out.Write(seed); });
}

}  // namespace terminal
