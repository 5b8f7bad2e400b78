// The log writes the same bytes to the console and to the file: wide text and
// integers are converted once, so both sides always agree.
#include "framework/component_log.h"

#include <cstdio>
#include <cstdlib>

#include "framework/console.h"
#include "inventory/shell_pipe.h"

namespace hbafw {

namespace {
std::string DirectoryOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}
}  // namespace

ComponentLog::ComponentLog(std::string path) : path_(std::move(path)) {
    // Exit statuses are ignored: a log that cannot be created shows on every write.
    int ignored = std::system(("mkdir -p " + QuoteShellWord(DirectoryOf(path_))).c_str());
    ignored = std::system(("touch " + QuoteShellWord(path_)).c_str());
    (void)ignored;
}

ComponentLog& ComponentLog::Write(std::string_view text) { return WriteBytes(text); }

ComponentLog& ComponentLog::Write(std::wstring_view text) { return WriteBytes(NarrowForConsole(text)); }

ComponentLog& ComponentLog::Write(int value) { return WriteBytes(std::to_string(value)); }

ComponentLog& ComponentLog::WriteBytes(std::string_view bytes) {
    if (!quiet_) ConsoleWrite(bytes);
    std::FILE* file = std::fopen(path_.c_str(), "a");
    if (file == nullptr) {
        ConsoleWrite(kLogWriteFailed);
        return *this;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return *this;
}

}  // namespace hbafw
