// File writes that cannot be misdirected or left half done: the log is only
// ever appended to as a regular file reached without a symbolic link, and a
// replaced file is swapped in whole by a rename. Every file and folder made
// here gets an explicit mode whatever the umask. Nothing here prints or logs;
// callers turn a false or -1 into their own message.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "framework/folder_handle.h"

namespace hbafw {

inline constexpr mode_t kFolderMode = 0755;
inline constexpr mode_t kLogMode = 0644;
inline constexpr mode_t kReportMode = 0644;
inline constexpr mode_t kToolMode = 0755;

// The folder part of path: "." for a bare name, "/" for a name under the root.
std::string FolderOf(const std::string& path);
// The last name of path.
std::string NameOf(const std::string& path);

// Path-string conveniences over FolderHandle, which judges every folder on the
// way; a caller writing several files into one folder keeps a FolderHandle.

// Creates every missing folder of path, each with kFolderMode (FolderHandle::Make).
// An existing last folder of this user's loses write access for group and
// others. True when path is such a folder afterwards.
bool MakeFolders(const std::string& path);

inline constexpr mode_t kPrivateFolderMode = 0700;

// Makes path's missing folders as MakeFolders does and the last one
// kPrivateFolderMode. True when path is then a folder of this user's, reached
// without a link, that group and others cannot enter (an existing one of this
// user's is closed to them; another user's is refused).
bool MakePrivateFolder(const std::string& path);

// The names in folder that fnmatch(3) matches with pattern, in directory order,
// never "." or ".."; none for a folder that cannot be read. A leading dot is
// matched only by a leading dot in pattern unless dotFiles.
std::vector<std::string> NamesMatching(const std::string& folder, const char* pattern, bool dotFiles = false);

// An append descriptor (close-on-exec) of the regular file of this user's at
// path, created with kLogMode when missing; -1 when path is a symbolic link,
// not such a file, its folder fails FolderHandle's judgement, or it cannot be
// opened. Opening never blocks, not even on a FIFO.
int OpenRegularForAppend(const std::string& path);

// Writes every byte, retrying short and interrupted writes.
bool WriteAll(int fd, std::string_view bytes);

// The whole regular file, or false.
bool ReadWholeFile(const std::string& path, std::string& content);

// Puts content at path through a temporary file in the same folder, worked on
// relative to that folder opened by FolderHandle, flushed to disk and renamed over path once
// complete. On failure path keeps what it held (or stays absent) and no
// temporary is left. Only a missing path or a regular file of this user is
// replaced: a link, device, folder or another user's file there is a failure.
// The result never carries set-uid, set-gid or sticky bits: a new file gets
// kReportMode, a replaced one its old permission bits.
// A service's folder (owners Anyone) may be another user's: see FolderHandle.
bool ReplaceFile(const std::string& path, std::string_view content,
                 FolderHandle::Owners owners = FolderHandle::Owners::RootOrUs);

}  // namespace hbafw
