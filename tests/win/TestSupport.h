#pragma once
// Shared helpers for the Windows-side suites: a temporary directory that each fixture makes for itself and
// removes with everything in it, and whole-file helpers. Paths are ANSI byte strings in the process's code
// page; the helpers go through the wide calls, so they also reach paths longer than MAX_PATH.
#include <map>
#include <string>
#include <string_view>

namespace zal::test {

// A fresh, empty directory under the system's temporary directory, removed (contents included, read-only
// files too) when the object goes. Path() ends in a backslash, so a bare file name can be appended.
class TempDir {
public:
    // prefix becomes part of the directory's name, which helps when one is left behind by a crash.
    explicit TempDir(std::string_view prefix = "zal");
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    const std::string& Path() const noexcept { return FPath; }
    std::string operator/(std::string_view name) const { return FPath + std::string(name); }

private:
    std::string FPath;
};

// Creates or truncates path and writes bytes to it; fails the calling test's assertion on error.
void WriteFileBytes(const std::string& path, std::string_view bytes);

// The whole content of path; the text "<missing>" when it cannot be opened, so a comparison fails clearly.
std::string ReadFileBytes(const std::string& path);

// Creates one directory; fails the calling test's assertion on error.
void MakeDirectory(const std::string& path);

// True when path names an existing file or directory.
bool PathExists(const std::string& path);

// Removes a file or a directory tree, clearing read-only attributes first. Missing paths are fine.
void RemoveTree(const std::string& path);

// content itself when short, else its size and a hash, so that failure messages stay readable.
std::string Summary(const std::string& content);

// The entries directly in directory (which ends in a backslash): each file's name with the Summary of its
// content, each directory's name with "<dir>". Comparing two listings shows whether anything changed.
std::map<std::string, std::string> ListDirectory(const std::string& directory);

// Handles the messages waiting for the application's loop, through its own filters, until none is left.
void ProcessPendingMessages();

// A file of the build tree, named by its Unix path, as the Windows path Wine gives it on drive Z:.
std::string BuildTreePath(std::string_view unixPath);

// The access list of path's file as SDDL ("D:..."), or "<error N>".
std::string AccessRules(const std::string& path);

// Gives path's file the access list of sddl, in which "$USER" stands for this process's user; fails the
// calling test's assertion on error.
void SetAccessRules(const std::string& path, std::string sddl);

// path as a wide string; an absolute path with a drive gets the "\\?\" prefix that lifts MAX_PATH.
std::wstring ExtendedPath(const std::string& path);

} // namespace zal::test
