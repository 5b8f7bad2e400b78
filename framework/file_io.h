// File writes that cannot be misdirected or left half done: the log is only
// ever appended to as a regular file reached without a symbolic link, and a
// replaced file is swapped in whole by a rename. Nothing here prints or logs;
// callers turn a false or -1 into their own message.
#pragma once

#include <string>
#include <string_view>

namespace hbafw {

// The folder part of path: "." for a bare name, "/" for a name under the root.
std::string FolderOf(const std::string& path);

// An append descriptor (close-on-exec) of the regular file at path, created
// when missing; -1 when path is a symbolic link, not a regular file, or cannot
// be opened. Opening never blocks, not even on a FIFO.
int OpenRegularForAppend(const std::string& path);

// Writes every byte, retrying short and interrupted writes.
bool WriteAll(int fd, std::string_view bytes);

// Puts content at path through a temporary file in the same folder that is
// flushed to disk and renamed over path once complete. On failure path keeps
// what it held (or stays absent) and no temporary is left. Only a missing path
// or a regular file is replaced: a link, device or folder there is a failure.
bool ReplaceFile(const std::string& path, std::string_view content);

}  // namespace hbafw
