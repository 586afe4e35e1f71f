#pragma once
// File names and the file system. The program's strings are Windows-1251;
// file names on this system are bytes, usually UTF-8, so every call that
// reaches the file system converts with SysPath, and names read from it come
// back through FromSysPath. What the code page cannot spell travels in the
// escape form of name_escapes.h, so SysPath(FromSysPath(x)) is x for any
// name. Paths are POSIX paths ('/' separators).
#include <string>

namespace rtl {

inline constexpr char PathDelim = '/';

// Program text (Windows-1251) -> the name the file system knows, and back;
// a name from the system survives the round trip byte for byte.
std::string SysPath(const std::string& name);
std::string FromSysPath(const std::string& sysName);

// Up to and including the last '/'; empty when there is none.
std::string ExtractFilePath(const std::string& name);
std::string ExtractFileName(const std::string& name);
// From the last '.' of the file name part, dot included; empty when none.
std::string ExtractFileExt(const std::string& name);
std::string ChangeFileExt(const std::string& name, const std::string& ext);
std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string ExcludeTrailingPathDelimiter(const std::string& path);
// An absolute name with "." and ".." resolved (lexically; links are kept).
std::string ExpandFileName(const std::string& name);

// A regular file (or a link to one); folders do not count.
bool FileExists(const std::string& name);
bool DirectoryExists(const std::string& name);
// Anything at all under name (a file, a folder, a device); links followed.
bool NameExists(const std::string& name);
bool DeleteFile(const std::string& name);
bool RenameFile(const std::string& oldName, const std::string& newName);

// The folder of the running executable, with a trailing '/'.
std::string ExeFolder();

// Creates every missing folder of Dir (program text) with the permission
// bits Mode; 0, or the system's error number.
int ForceDirectories(const std::string& Dir, unsigned Mode);

// Whether a new file can be made in Folder (program text), found out by
// making one and removing it again: permission bits alone do not tell (a
// read-only mount, a privileged user).
bool FolderTakesNewFiles(const std::string& Folder);

// Opens the folder SysFolder (a system name; empty for the current folder)
// as a handle for the calls below: -1 with errno set on failure. Names made
// relative to it need not fit, with the folder's path in front, within the
// system's limit on a whole path; only the folder's own path must.
int OpenFolder(const std::string& SysFolder);

// Creates a new empty file for writing in the folder Folder (a handle from
// OpenFolder), named by a fixed short prefix and a random part, so that the
// name stays short whatever else lies in the folder. Returns the descriptor
// and the file's name within the folder in Name, or -1 with errno set.
int OpenUniqueFile(int Folder, std::string& Name);

}  // namespace rtl
