#include "framework/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "inventory/descriptor.h"

namespace hbafw {

namespace {

std::string NameOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A fresh name beside the target, created exclusively, never through a link.
int CreateTemporary(int folder, const std::string& name, std::string& temporary) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = "." + name + "." + std::to_string(random());
        int fd = ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

std::string FolderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool MakeFolders(const std::string& path) {
    int parent = ::open(path.starts_with('/') ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::size_t start = 0;
    while (parent >= 0 && start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".") continue;
        // The umask may only have narrowed the mode; set it exactly.
        bool made = ::mkdirat(parent, name.c_str(), kFolderMode) == 0;
        int child = made && ::fchmodat(parent, name.c_str(), kFolderMode, 0) != 0
                        ? -1
                        : ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(parent);
        parent = child;
    }
    if (parent < 0) return false;
    // An earlier build left the log's folder 0777 under some umasks; the lock
    // lives there, so a folder of ours loses write access for everyone else.
    struct stat st {};
    bool ours = ::fstat(parent, &st) == 0 && st.st_uid == ::geteuid();
    bool tight = !ours || (st.st_mode & 022) == 0 || ::fchmod(parent, st.st_mode & 07755) == 0;
    ::close(parent);
    return tight;
}

bool MakePrivateFolder(const std::string& path) {
    if (!MakeFolders(FolderOf(path))) return false;
    ::mkdir(path.c_str(), kPrivateFolderMode);
    Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (folder.get() < 0 || ::fstat(folder.get(), &st) != 0 || st.st_uid != ::geteuid()) return false;
    // Exact whatever the umask; an earlier mode open to others is closed.
    return (st.st_mode & 07777) == kPrivateFolderMode || ::fchmod(folder.get(), kPrivateFolderMode) == 0;
}

int OpenRegularForAppend(const std::string& path) {
    int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, kLogMode);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    // Non-blocking was only for the open; a tool given this descriptor must see a plain file.
    ::fcntl(fd, F_SETFL, O_APPEND);
    return fd;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    content.clear();
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        content.append(buffer, static_cast<std::size_t>(n));
    }
}

bool ReplaceFile(const std::string& path, std::string_view content) {
    std::string name = NameOf(path);
    if (name.empty() || name == "." || name == "..") return false;
    Descriptor folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return false;

    mode_t mode = kReportMode;
    struct stat existing {};
    if (::fstatat(folder.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        // Another user's file may be planted to become root's (a set-uid
        // program): never take it over.
        if (!S_ISREG(existing.st_mode) || existing.st_uid != ::geteuid()) return false;
        mode = existing.st_mode & 0777;
    } else if (errno != ENOENT) {
        return false;
    }

    std::string temporary;
    int fd = CreateTemporary(folder.get(), name, temporary);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, content) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::renameat(folder.get(), temporary.c_str(), folder.get(), name.c_str()) == 0;
    if (!ok) {
        ::unlinkat(folder.get(), temporary.c_str(), 0);
        return false;
    }
    ::fsync(folder.get());
    return true;
}

std::vector<std::string> NamesMatching(const std::string& folder, const char* pattern, bool dotFiles) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && ::fnmatch(pattern, name.c_str(), dotFiles ? 0 : FNM_PERIOD) == 0)
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

}  // namespace hbafw
