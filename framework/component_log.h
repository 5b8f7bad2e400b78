// Console and log-file writer of a component. Every write goes to the console
// (unless quiet) and is appended to the log file, which is opened and closed per
// write so tools may append to it in between. No prefix or newline is added.
#pragma once

#include <string>
#include <string_view>

#include "inventory/system_paths.h"

namespace hbafw {

class ComponentLog {
public:
    // Creates the log's directory and file through the shell, as every start does.
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

private:
    ComponentLog& WriteBytes(std::string_view bytes);

    std::string path_;
    bool quiet_ = false;
};

inline constexpr std::string_view kLogWriteFailed = "ERROR : Unable to write to log file\n";

}  // namespace hbafw
