#include "inventory/file_trust.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>

#include "inventory/descriptor.h"

namespace hbafw {

namespace {

constexpr int kMaxLinks = 40;

bool TrustedOwner(uid_t uid) { return uid == 0 || uid == ::geteuid(); }

// Sticky: others may add names, but only root or a name's owner may move it.
bool TrustedFolder(const struct stat& st) {
    return S_ISDIR(st.st_mode) && TrustedOwner(st.st_uid) &&
           ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0);
}

std::vector<std::string> Names(const std::string& path) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

struct Judged {
    const char* refusal = nullptr;
    bool found = false;
    std::string resolved;  // the path without links, when found
};

Judged Refused(const char* why) { return {why, false, {}}; }

// From "/", name by name, with the kernel never following a link: a link is
// judged, read and its target walked in turn, so every folder the path passes
// through is judged, those holding the links included.
Judged WalkFromRoot(const std::string& path) {
    std::vector<Descriptor> folders;
    folders.emplace_back(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::vector<std::string> walked;
    struct stat st {};
    if (folders.back().get() < 0 || ::fstat(folders.back().get(), &st) != 0) return {};
    if (!TrustedFolder(st)) return Refused(kUnsafeFolder);
    std::vector<std::string> pending = Names(path);
    std::reverse(pending.begin(), pending.end());
    int links = 0;
    while (!pending.empty()) {
        std::string name = std::move(pending.back());
        pending.pop_back();
        if (name == ".") continue;
        if (name == "..") {
            if (folders.size() > 1) folders.pop_back(), walked.pop_back();
            continue;
        }
        Descriptor entry(::openat(folders.back().get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (entry.get() < 0 || ::fstat(entry.get(), &st) != 0) return {};
        if (S_ISLNK(st.st_mode)) {
            if (!TrustedOwner(st.st_uid)) return Refused(kUnsafeFolder);
            if (++links > kMaxLinks) return Refused(kTooManyLinks);
            char target[PATH_MAX];
            ssize_t length = ::readlinkat(entry.get(), "", target, sizeof target);
            if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return {};
            std::string text(target, static_cast<std::size_t>(length));
            if (text.front() == '/') folders.resize(1), walked.clear();
            std::vector<std::string> names = Names(text);
            pending.insert(pending.end(), names.rbegin(), names.rend());
            continue;
        }
        if (pending.empty()) {
            if (const char* why = DistrustedFile(st)) return Refused(why);
            std::string resolved;
            for (const std::string& folder : walked) resolved += "/" + folder;
            return {nullptr, true, resolved + "/" + name};
        }
        if (!S_ISDIR(st.st_mode)) return {};
        if (!TrustedFolder(st)) return Refused(kUnsafeFolder);
        folders.push_back(std::move(entry));
        walked.push_back(name);
    }
    return Refused(kNotRegular);
}

std::vector<LibraryRefusal>& Refusals() {
    static std::vector<LibraryRefusal> refusals;
    return refusals;
}

void Record(const std::string& path, const char* reason) {
    for (const LibraryRefusal& refusal : Refusals())
        if (refusal.path == path) return;
    Refusals().push_back({path, reason});
}

ToolState PrepareOpened(int fd, mode_t mode) {
    if (fd < 0) return errno == ENOENT ? ToolState::Missing : ToolState::Unsafe;
    Descriptor opened(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || DistrustedFile(st) != nullptr) return ToolState::Unsafe;
    if (mode != 0 && ::fchmod(fd, mode) != 0) return ToolState::Unsafe;
    return ToolState::Ready;
}

}  // namespace

std::vector<std::string> PathNames(const std::string& path) { return Names(path); }

const char* DistrustedFile(const struct stat& st) {
    if (S_ISLNK(st.st_mode)) return kIsLink;
    if (!S_ISREG(st.st_mode)) return kNotRegular;
    if (!TrustedOwner(st.st_uid)) return kForeignOwner;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return kWritableByOthers;
    return nullptr;
}

ToolState PrepareTool(const std::string& path, mode_t mode) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return PrepareTool(".", path, mode);
    return PrepareTool(slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1), mode);
}

ToolState PrepareTool(const std::string& folder, const std::string& entry, mode_t mode) {
    Descriptor at(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (at.get() < 0) return errno == ENOENT ? ToolState::Missing : ToolState::Unsafe;
    std::vector<std::string> names = Names(entry);
    if (names.empty()) return ToolState::Unsafe;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        if (names[i] == "..") return ToolState::Unsafe;
        // O_NOFOLLOW refuses a link here (ELOOP or ENOTDIR), so the walk never leaves folder.
        Descriptor next(::openat(at.get(), names[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) return errno == ENOENT ? ToolState::Missing : ToolState::Unsafe;
        at = std::move(next);
    }
    if (names.back() == "..") return ToolState::Unsafe;
    // Read-only and non-blocking: opening must not wait on a FIFO, and fchmod
    // needs a real descriptor (not O_PATH) of the very file judged.
    return PrepareOpened(
        ::openat(at.get(), names.back().c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC), mode);
}

void* OpenTrustedLibrary(const std::string& path) {
    Judged judged = path.starts_with('/') ? WalkFromRoot(path) : Refused(kNotAbsolute);
    if (judged.refusal != nullptr) Record(path, judged.refusal);
    if (!judged.found) return nullptr;
    // Every folder and link on the way is root's or ours and closed to others,
    // so nobody else can change what the link-free path names before dlopen.
    // (Not /proc/self/fd/N: glibc knows a loaded library by that name, which a
    // later descriptor of the same number would reuse.)
    return ::dlopen(judged.resolved.c_str(), RTLD_LAZY | RTLD_LOCAL);
}

const std::vector<LibraryRefusal>& RefusedLibraries() { return Refusals(); }

}  // namespace hbafw
