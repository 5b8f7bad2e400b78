// The log writes the same bytes to the console and to the file: wide text and
// integers are converted once, so both sides always agree.
#include "framework/component_log.h"

#include <unistd.h>

#include "framework/console.h"
#include "framework/file_io.h"

namespace hbafw {

ComponentLog::ComponentLog(std::string path) : path_(std::move(path)) {
    // Failures are ignored: a log that cannot be created shows on every write.
    MakeFolders(FolderOf(path_));
    // Not "touch": it would create or stamp the target of a link at the path.
    int fd = OpenFile();
    if (fd >= 0) ::close(fd);
}

int ComponentLog::OpenFile() const { return OpenRegularForAppend(path_); }

bool ComponentLog::Sync() const {
    int fd = OpenFile();
    if (fd < 0) return false;
    bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

ComponentLog& ComponentLog::Write(std::string_view text) { return WriteBytes(text); }

ComponentLog& ComponentLog::Write(std::wstring_view text) { return WriteBytes(NarrowForConsole(text)); }

ComponentLog& ComponentLog::Write(int value) { return WriteBytes(std::to_string(value)); }

ComponentLog& ComponentLog::WriteBytes(std::string_view bytes) {
    if (!quiet_) ConsoleWrite(bytes);
    int fd = OpenFile();
    bool written = fd >= 0 && WriteAll(fd, bytes);
    if (fd >= 0) ::close(fd);
    if (!written) {
        ConsoleWrite(kLogWriteFailed);
        ++failures_;
    }
    return *this;
}

}  // namespace hbafw
