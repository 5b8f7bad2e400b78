#include "framework/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "framework/folder_handle.h"
#include "inventory/descriptor.h"

namespace hbafw {

std::string NameOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool MakeFolders(const std::string& path) { return FolderHandle::Make(path, kFolderMode).valid(); }

bool MakePrivateFolder(const std::string& path) {
    FolderHandle folder = FolderHandle::Make(FolderOf(path), kFolderMode).Child(NameOf(path), true, kPrivateFolderMode);
    // Exact whatever the umask; an earlier mode open to others is closed.
    return folder.valid() && ::fchmod(folder.fd(), kPrivateFolderMode) == 0;
}

int OpenRegularForAppend(const std::string& path) {
    return FolderHandle::Open(FolderOf(path)).OpenAppend(NameOf(path), kLogMode);
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

bool ReplaceFile(const std::string& path, std::string_view content, FolderHandle::Owners owners) {
    return FolderHandle::Open(FolderOf(path), owners).Replace(NameOf(path), content, kReportMode);
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
