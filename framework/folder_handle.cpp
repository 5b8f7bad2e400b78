// The walk keeps every opened folder on a stack, so a root link's ".." steps
// back to a folder already judged instead of resolving a name again.
#include "framework/folder_handle.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>
#include <random>
#include <vector>

#include "inventory/file_trust.h"

namespace hbafw {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kLinksFollowed = 8;

bool Trusted(uid_t owner) { return owner == 0 || owner == ::geteuid(); }
bool OpenToOthers(mode_t mode) { return (mode & 022) != 0 && (mode & S_ISVTX) == 0; }

std::deque<std::string> Names(const std::string& path) {
    std::vector<std::string> names = PathNames(path);
    return {names.begin(), names.end()};
}

// The folder name below parent, made with mode when missing and make, and
// judged. The log's folder was left 0777 by an earlier build under some
// umasks, so a last folder of ours made before loses write access for others.
Descriptor Step(int parent, const std::string& name, bool make, mode_t mode, bool anyOwner, bool last) {
    bool made = make && ::mkdirat(parent, name.c_str(), mode) == 0;
    Descriptor child(::openat(parent, name.c_str(), kFolderFlags));
    struct stat st {};
    if (child.get() < 0 || ::fstat(child.get(), &st) != 0 || !S_ISDIR(st.st_mode)) return Descriptor();
    if (made && (st.st_uid != ::geteuid() || ::fchmod(child.get(), mode) != 0)) return Descriptor();
    if (made) st.st_mode = S_IFDIR | mode;
    if (make && last && st.st_uid == ::geteuid() && (st.st_mode & 022) != 0) {
        if (::fchmod(child.get(), st.st_mode & 07755) != 0) return Descriptor();
        st.st_mode &= 07755;
    }
    if (!Trusted(st.st_uid) && !anyOwner) return Descriptor();
    if (OpenToOthers(st.st_mode)) return Descriptor();
    return child;
}

bool IsLink(int parent, const std::string& name, struct stat& st) {
    return ::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

Descriptor Walk(const std::string& path, bool make, mode_t mode, FolderHandle::Owners owners) {
    std::deque<std::string> pending = Names(path);
    for (const std::string& name : pending)
        if (name == "..") return Descriptor();
    if (!path.starts_with('/')) {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) return Descriptor();
        std::deque<std::string> base = Names(cwd);
        pending.insert(pending.begin(), base.begin(), base.end());
    }
    std::vector<Descriptor> stack;
    stack.emplace_back(::open("/", kFolderFlags));
    struct stat st {};
    if (stack.back().get() < 0 || ::fstat(stack.back().get(), &st) != 0 || st.st_uid != 0 || OpenToOthers(st.st_mode))
        return Descriptor();
    int links = 0;
    while (!pending.empty()) {
        std::string name = std::move(pending.front());
        pending.pop_front();
        if (name == ".") continue;
        if (name == "..") {
            if (stack.size() > 1) stack.pop_back();
            continue;
        }
        int parent = stack.back().get();
        if (IsLink(parent, name, st)) {
            char target[PATH_MAX];
            ssize_t length = ::readlinkat(parent, name.c_str(), target, sizeof target - 1);
            if (st.st_uid != 0 || ++links > kLinksFollowed || length <= 0) return Descriptor();
            std::string text(target, static_cast<std::size_t>(length));
            std::deque<std::string> names = Names(text);
            pending.insert(pending.begin(), names.begin(), names.end());
            if (text.starts_with('/')) stack.resize(1);
            continue;
        }
        bool anyOwner = owners == FolderHandle::Owners::Anyone;
        Descriptor child = Step(parent, name, make, mode, anyOwner, pending.empty());
        if (child.get() < 0) return Descriptor();
        stack.push_back(std::move(child));
    }
    return std::move(stack.back());
}

// A fresh name beside name, created exclusively, never through a link.
int CreateTemporary(int folder, const std::string& name, std::string& temporary) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = "." + name + "." + std::to_string(random());
        int fd = ::openat(folder, temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// name opened without a link, created with exactly mode when missing.
int OpenOrCreate(int folder, const std::string& name, int flags, mode_t mode) {
    if (!IsPlainName(name)) return -1;
    flags |= O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::openat(folder, name.c_str(), flags | O_CREAT | O_EXCL, mode);
    if (fd >= 0 && ::fchmod(fd, mode) != 0) {
        ::close(fd);
        return -1;
    }
    if (fd < 0 && errno == EEXIST) fd = ::openat(folder, name.c_str(), flags);
    return fd;
}

}  // namespace

bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

FolderHandle FolderHandle::Open(const std::string& path, Owners owners) {
    return FolderHandle(Walk(path, false, 0, owners));
}

FolderHandle FolderHandle::Make(const std::string& path, mode_t mode) {
    return FolderHandle(Walk(path, true, mode, Owners::RootOrUs));
}

FolderHandle FolderHandle::Child(const std::string& name, bool make, mode_t mode) const {
    struct stat st {};
    if (!valid() || !IsPlainName(name) || IsLink(fd(), name, st)) return {};
    return FolderHandle(Step(fd(), name, make, mode, false, true));
}

FolderHandle FolderHandle::NewChild(const std::string& name, mode_t mode) const {
    if (!valid() || !IsPlainName(name) || ::mkdirat(fd(), name.c_str(), mode) != 0) return {};
    Descriptor child = Step(fd(), name, false, mode, false, true);
    if (child.get() < 0 || ::fchmod(child.get(), mode) != 0) return {};
    return FolderHandle(std::move(child));
}

bool FolderHandle::Replace(const std::string& name, std::string_view content, mode_t mode) const {
    if (!valid() || !IsPlainName(name)) return false;
    struct stat existing {};
    if (::fstatat(fd(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        // Another user's file may be planted to become root's (a set-uid
        // program): never take it over.
        if (!S_ISREG(existing.st_mode) || existing.st_uid != ::geteuid()) return false;
        mode = existing.st_mode & 0777;
    } else if (errno != ENOENT) {
        return false;
    }
    std::string temporary;
    int file = CreateTemporary(fd(), name, temporary);
    if (file < 0) return false;
    bool ok = true;
    for (std::string_view rest = content; ok && !rest.empty();) {
        ssize_t n = ::write(file, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) rest.remove_prefix(static_cast<std::size_t>(n));
    }
    ok = ok && ::fchmod(file, mode) == 0 && ::fsync(file) == 0;
    ok = ::close(file) == 0 && ok;
    ok = ok && ::renameat(fd(), temporary.c_str(), fd(), name.c_str()) == 0;
    if (!ok) {
        ::unlinkat(fd(), temporary.c_str(), 0);
        return false;
    }
    ::fsync(fd());
    return true;
}

int FolderHandle::OpenAppend(const std::string& name, mode_t mode) const {
    int file = valid() ? OpenOrCreate(fd(), name, O_WRONLY | O_APPEND, mode) : -1;
    struct stat st {};
    if (file >= 0 && (::fstat(file, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())) {
        ::close(file);
        return -1;
    }
    // Non-blocking was only for the open; a tool given this descriptor must see a plain file.
    if (file >= 0) ::fcntl(file, F_SETFL, O_APPEND);
    return file;
}

int FolderHandle::OpenReadWrite(const std::string& name, mode_t mode) const {
    return valid() ? OpenOrCreate(fd(), name, O_RDWR, mode) : -1;
}

int FolderHandle::ReplaceWithEmpty(const std::string& name, mode_t mode) const {
    if (!valid() || !IsPlainName(name)) return -1;
    std::string temporary;
    int file = CreateTemporary(fd(), name, temporary);
    if (file < 0) return -1;
    if (::fchmod(file, mode) != 0 || ::renameat(fd(), temporary.c_str(), fd(), name.c_str()) != 0) {
        ::close(file);
        ::unlinkat(fd(), temporary.c_str(), 0);
        return -1;
    }
    return file;
}

bool FolderHandle::Sync() const { return valid() && ::fsync(fd()) == 0; }

bool FolderHandle::Empty() const {
    int copy = valid() ? ::openat(fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (dir == nullptr) {
        if (copy >= 0) ::close(copy);
        return false;
    }
    bool empty = true;
    while (const dirent* entry = ::readdir(dir))
        empty = empty && (std::string_view(entry->d_name) == "." || std::string_view(entry->d_name) == "..");
    ::closedir(dir);
    return empty;
}

}  // namespace hbafw
