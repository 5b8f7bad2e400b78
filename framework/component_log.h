// Console and log-file writer of a component. Every write goes to the console
// (unless quiet) and is appended to the log file, which is opened and closed per
// write so tools may append to it in between. No prefix or newline is added.
// A log path that is a symbolic link or not a regular file is never written;
// a write that fails, also part way (a full disk), is reported like one.
#pragma once

#include <string>
#include <string_view>

#include "inventory/system_paths.h"

namespace hbafw {

class ComponentLog {
public:
    // Creates the log's folders (0755) and the file (0644, never through a
    // link) by system calls, as every start does.
    explicit ComponentLog(std::string path = SystemPaths{}.componentLog);

    ComponentLog& Write(std::string_view text);
    ComponentLog& Write(std::wstring_view text);
    ComponentLog& Write(const char* text) { return Write(std::string_view(text)); }
    ComponentLog& Write(const wchar_t* text) { return Write(std::wstring_view(text)); }
    ComponentLog& Write(const std::string& text) { return Write(std::string_view(text)); }
    ComponentLog& Write(const std::wstring& text) { return Write(std::wstring_view(text)); }
    ComponentLog& Write(int value);

    const std::string& path() const { return path_; }
    bool quiet() const { return quiet_; }
    void setQuiet(bool quiet) { quiet_ = quiet; }

    // An append descriptor of the log file for a tool's output, or -1 when the
    // log cannot be written; the caller closes it.
    int OpenFile() const;
    // Flushes what the file holds to disk, so it outlives a power cut; false
    // when that failed.
    bool Sync() const;

    // How many writes so far did not reach the file whole.
    std::size_t failures() const { return failures_; }

private:
    ComponentLog& WriteBytes(std::string_view bytes);

    std::string path_;
    bool quiet_ = false;
    std::size_t failures_ = 0;
};

inline constexpr std::string_view kLogWriteFailed = "ERROR : Unable to write to log file\n";

}  // namespace hbafw
