// The one way this project writes a file as root: a folder opened from "/" one
// name at a time, never through a link another user could have placed, and
// every file or folder below it made, replaced or renamed relative to that
// descriptor, so nothing checked earlier is reached again by its name. It
// judges folders and files; it prints and logs nothing.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "inventory/descriptor.h"

namespace hbafw {

class FolderHandle {
public:
    // Who may own the folders on the way. Each must be writable by group or
    // others only when sticky, and a link on the way is followed only when it
    // is root's and every folder of its target passes too.
    enum class Owners {
        RootOrUs,
        // A service's own folders (node_exporter's, below /var/lib/prometheus,
        // owned by prometheus): reached without a user's link, with exclusive
        // temporary names and a relative rename, their owner can only remove
        // what lands there, never redirect it.
        Anyone,
    };

    FolderHandle() = default;

    // The folder at path (relative ones from the working folder); invalid when
    // it is missing or fails the judgement, or path holds "..".
    static FolderHandle Open(const std::string& path, Owners owners = Owners::RootOrUs);
    // As Open, making missing folders with mode (exact, whatever the umask).
    // An existing last folder of this user's that others may write loses that.
    static FolderHandle Make(const std::string& path, mode_t mode = 0755);

    bool valid() const { return fd_.get() >= 0; }
    int fd() const { return fd_.get(); }

    // A folder below this one, name a single name (made with mode when
    // missing and make; one of ours made before loses write access for group
    // and others); invalid for a link, another user's folder, or a folder
    // others may write.
    FolderHandle Child(const std::string& name, bool make = false, mode_t mode = 0755) const;
    // As Child with make, but the folder must be new: no one else's files can
    // be in it.
    FolderHandle NewChild(const std::string& name, mode_t mode) const;

    // Puts content at name whole: a fresh exclusive temporary, flushed, given
    // its mode, and renamed over name. Only a missing name or a regular file
    // of this user's is replaced; a new file gets mode, a replaced one keeps
    // its permission bits (set-uid, set-gid and sticky dropped). On failure
    // name keeps what it held and no temporary is left.
    bool Replace(const std::string& name, std::string_view content, mode_t mode = 0644) const;
    // An append descriptor (close-on-exec) of the regular file name, this
    // user's, created with mode when missing; -1 otherwise. Never blocks.
    int OpenAppend(const std::string& name, mode_t mode = 0644) const;
    // A read-write descriptor of the regular file name of this user's,
    // created with mode when missing; -1 otherwise.
    int OpenReadWrite(const std::string& name, mode_t mode) const;
    // An empty file of mode renamed over name (a regular file, a link, or
    // nothing); its descriptor, read-write, or -1.
    int ReplaceWithEmpty(const std::string& name, mode_t mode) const;
    bool Sync() const;
    // True when the folder holds no name but "." and "..".
    bool Empty() const;

private:
    explicit FolderHandle(Descriptor fd) : fd_(std::move(fd)) {}
    Descriptor fd_;
};

// True for a single name that stays in its folder: not empty, ".", "..",
// and holding no '/'.
bool IsPlainName(std::string_view name);

}  // namespace hbafw
