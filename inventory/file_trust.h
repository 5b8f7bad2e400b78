// Which files the component may run, flash or load as root: one whose content
// or name someone other than root or this user could have chosen is refused.
// Files are judged as opened, never by a name the kernel follows later. Nothing
// here prints or logs; callers turn a refusal into their own line. It lives in
// the inventory, the lowest layer that loads a file, so the framework shares it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace hbafw {

// Why a file is not trusted, as the end of a sentence about it.
inline constexpr const char* kNotAbsolute = "it is not an absolute path";
inline constexpr const char* kIsLink = "it is a symbolic link";
inline constexpr const char* kNotRegular = "it is not a regular file";
inline constexpr const char* kForeignOwner = "it is owned by another user";
inline constexpr const char* kWritableByOthers = "it is writable by group or others";
inline constexpr const char* kUnsafeFolder =
    "a folder or link on its way is another user's, or writable by others without the sticky bit";
inline constexpr const char* kTooManyLinks = "its links do not end";

// The names of path between its slashes, "." and ".." kept.
std::vector<std::string> PathNames(const std::string& path);

// Null when st is a regular file of root or this user that neither group nor
// others may write; else the reason.
const char* DistrustedFile(const struct stat& st);

// A program, image or kit entry the component is about to use as root.
enum class ToolState { Ready, Missing, Unsafe };

// Ready when path names a trusted file (DistrustedFile) as found, its last
// name opened without following a link; it is then given mode (0: left as is)
// through that descriptor. Unsafe files (a link among them) are never changed.
// The folder part is the caller's choice (the working folder) and is not judged.
ToolState PrepareTool(const std::string& path, mode_t mode);

// The same for entry, a relative path inside folder (a kit the component
// unpacked): no name of it may be a link or "..", so what is judged and
// changed always lies inside folder.
ToolState PrepareTool(const std::string& folder, const std::string& entry, mode_t mode);

// dlopen (lazy, local binding) of a vendor library, or null. Loaded only when
// path is absolute and names a trusted file (DistrustedFile), and every folder
// on its way is root's or this user's and not writable by group or others
// unless sticky. Links on the way, the last name included, are read and walked
// by this code, never by the kernel: each must be root's or this user's, and
// its target is judged the same way (at most 40 links). A refused library is
// recorded (RefusedLibraries); one that is missing or does not load is not.
void* OpenTrustedLibrary(const std::string& path);

struct LibraryRefusal {
    std::string path;
    const char* reason;
};

// Every library refused since the process started, each path once, in order.
const std::vector<LibraryRefusal>& RefusedLibraries();

}  // namespace hbafw
