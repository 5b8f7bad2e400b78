# The module's own folders on a server (the bundles' and the runs' folders
# and those above them): made root-only with exact modes whatever the umask,
# and trusted only while no one but root can change what they hold; and the
# Emulex kit folders dead component runs left behind, removed. It never
# repairs a folder's owner or mode, and starts no process.

from __future__ import absolute_import, division, print_function

import binascii
import errno
import os
import stat

from ansible_collections.hbafw.fleet.plugins.module_utils.component import (
    LOCK_PATH, hold_run_lock)

__metaclass__ = type

FOLDER_MODE = 0o700
# Written by group or others: whoever may write there may swap what root runs.
OPEN_BITS = 0o022
UNSAFE = 'unsafe server folder %s: %s'
NOT_A_FOLDER = 'it is not a folder'
A_LINK = 'it is a symbolic link'
NOT_ROOTS = 'it belongs to user %d, not root'
OPEN_TO_OTHERS = 'group or others may write it (mode %04o)'
# The folder an older component unpacked its Emulex kit into, in the working
# folder; the component now makes its kits under the run lock's folder.
OLD_KIT_PREFIX = '.hbafw-kit.'
KIT_PREFIX = 'hbafw-kit.'


class FolderError(Exception):
    """A folder the module would run from or record in is not root's alone."""


def owner_problem(info, sticky_ok=False):
    """Why a folder with this lstat/stat result is not root's alone, or None.
    A sticky folder (/tmp) lets no one replace another's entry in it."""
    if not stat.S_ISDIR(info.st_mode):
        return A_LINK if stat.S_ISLNK(info.st_mode) else NOT_A_FOLDER
    if info.st_uid not in (0, os.geteuid()):
        return NOT_ROOTS % info.st_uid
    if info.st_mode & OPEN_BITS and not (sticky_ok and
                                         info.st_mode & stat.S_ISVTX):
        return OPEN_TO_OTHERS % stat.S_IMODE(info.st_mode)
    return None


# Links followed on the way to one folder, as the kernel's own bound.
MAX_LINKS = 40
A_PARENT = 'the way leads up through ..'
LINK_NOT_ROOTS = 'it is a link of user %d, not root'
DIRECTORY = os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC
# open_private's modes, as open() names them: emptied, appended to, or new.
PRIVATE_MODES = {'w': os.O_TRUNC, 'a': os.O_APPEND, 'x': os.O_EXCL}


class Folder(object):
    """A folder held by its descriptor: everything made, replaced, renamed
    or removed in it is done relative to that descriptor by one name, so a
    folder swapped for a link after it was judged is never written through.
    Names given to it are single names: a slash in one is refused."""

    def __init__(self, descriptor, path):
        self.fd, self.path = descriptor, path

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def close(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None

    def where(self, name):
        return os.path.join(self.path, name)

    def _name(self, name):
        if name in ('', '.', '..') or '/' in name or '\0' in name:
            raise FolderError(UNSAFE % (self.where(name), 'not one name'))
        return name

    def sub(self, name, make=False, last=True):
        """The folder name in this one, judged; made 0700 when missing and
        make. Not through a link: a link at name is refused."""
        name = self._name(name)
        try:
            descriptor = os.open(name, DIRECTORY | os.O_NOFOLLOW,
                                 dir_fd=self.fd)
        except OSError as error:
            if error.errno != errno.ENOENT or not make:
                raise self._not_a_folder(name, error)
            return self.mkdir(name)
        problem = owner_problem(os.fstat(descriptor), sticky_ok=not last)
        if problem:
            os.close(descriptor)
            raise FolderError(UNSAFE % (self.where(name), problem))
        return Folder(descriptor, self.where(name))

    def _not_a_folder(self, name, error):
        if error.errno not in (errno.ELOOP, errno.ENOTDIR):
            return error
        info = os.stat(name, dir_fd=self.fd, follow_symlinks=False)
        problem = A_LINK if stat.S_ISLNK(info.st_mode) else NOT_A_FOLDER
        return FolderError(UNSAFE % (self.where(name), problem))

    def mkdir(self, name, mode=FOLDER_MODE):
        """A new folder, mode exact whatever the umask; raises when name
        is there."""
        os.mkdir(self._name(name), mode, dir_fd=self.fd)
        descriptor = os.open(name, DIRECTORY | os.O_NOFOLLOW, dir_fd=self.fd)
        os.fchmod(descriptor, mode)
        return Folder(descriptor, self.where(name))

    def make_temporary(self, prefix):
        """A fresh folder of a name no other run picks: (handle, name)."""
        while True:
            name = unique_name(prefix)
            try:
                return self.mkdir(name), name
            except OSError as error:
                if error.errno != errno.EEXIST:
                    raise

    def open(self, name, mode='w', perms=0o600):
        """A file of this folder for writing, never through a link; mode
        as open()'s: 'w', 'a' or 'x', with 'b' for bytes and '+' to read.
        Its mode is set to perms whatever the umask."""
        access = os.O_RDWR if '+' in mode else os.O_WRONLY
        descriptor = os.open(self._name(name), access | os.O_CREAT |
                             os.O_NOFOLLOW | os.O_CLOEXEC |
                             PRIVATE_MODES[mode[0]], perms, dir_fd=self.fd)
        try:
            self.refuse_others(name)
            os.fchmod(descriptor, perms)
        except BaseException:
            os.close(descriptor)
            raise
        return os.fdopen(descriptor, mode.replace('x', 'w'))

    def read(self, name, private=False):
        """The file's bytes, or None when it is missing or not a plain file
        (a link is not followed); private, also when it is not root's alone:
        another user's, or one group or others may read or write."""
        try:
            descriptor = os.open(self._name(name), os.O_RDONLY |
                                 os.O_NOFOLLOW | os.O_CLOEXEC, dir_fd=self.fd)
        except OSError:
            return None
        with os.fdopen(descriptor, 'rb') as handle:
            info = os.fstat(descriptor)
            if not stat.S_ISREG(info.st_mode) or private and (
                    info.st_uid not in (0, os.geteuid()) or
                    info.st_mode & 0o077):
                return None
            return handle.read()

    def replace(self, name, data, perms=0o600):
        """name holds data (text or bytes) whole: written to a temporary
        of a unique name beside it and renamed over it, so a reader sees
        the old file or the new one."""
        name = self._name(name)
        self.refuse_others(name)
        while True:
            temporary = unique_name('.%s.' % name)
            try:
                handle = self.open(temporary, 'xb' if isinstance(
                    data, bytes) else 'x', perms)
                break
            except OSError as error:
                if error.errno != errno.EEXIST:
                    raise
        try:
            with handle:
                handle.write(data)
            self.rename(temporary, name)
        except BaseException:
            self.remove(temporary)
            raise

    def refuse_others(self, name):
        """Raises when name is there and belongs to another user: what
        they made, root does not take over."""
        try:
            owner = self.lstat(name).st_uid
        except OSError:
            return
        if owner not in (0, os.geteuid()):
            raise FolderError(UNSAFE % (self.where(name), NOT_ROOTS % owner))

    def rename(self, old, new):
        os.replace(self._name(old), self._name(new), src_dir_fd=self.fd,
                   dst_dir_fd=self.fd)

    def lstat(self, name):
        return os.stat(self._name(name), dir_fd=self.fd,
                       follow_symlinks=False)

    def exists(self, name):
        try:
            self.lstat(name)
        except OSError:
            return False
        return True

    def names(self):
        return sorted(os.listdir(self.fd))

    def touch(self, name):
        """An empty file of ours, made or its time set to now."""
        with self.open(name, 'a') as handle:
            os.utime(handle.fileno())

    def remove(self, name):
        """Removes the file, link or whole folder name (a folder's content
        reached by descriptors, never through a link); whether it was
        there."""
        try:
            os.unlink(self._name(name), dir_fd=self.fd)
        except OSError as error:
            if error.errno == errno.ENOENT:
                return False
            if error.errno not in (errno.EISDIR, errno.EPERM):
                raise
            try:
                descriptor = os.open(name, DIRECTORY | os.O_NOFOLLOW,
                                     dir_fd=self.fd)
            except OSError:
                raise error
            with Folder(descriptor, self.where(name)) as inner:
                for entry in inner.names():
                    inner.remove(entry)
            os.rmdir(name, dir_fd=self.fd)
        return True


def unique_name(prefix):
    return '%s%d.%s' % (prefix, os.getpid(), binascii.hexlify(
        os.urandom(6)).decode())


def open_folder(path, make=False):
    """The folder at path, reached from / one name at a time, each folder
    on the way root's and none that others may write (but a sticky one
    above path); missing ones made 0700 when make. A link on the way is
    followed only when it is root's, and the way to where it leads is
    judged the same."""
    names = [part for part in os.path.abspath(path).split('/') if part]
    links = 0
    while True:
        folder = Folder(os.open('/', DIRECTORY), '/')
        try:
            problem = owner_problem(os.fstat(folder.fd), sticky_ok=True)
            if problem:
                raise FolderError(UNSAFE % ('/', problem))
            while names:
                name = names.pop(0)
                try:
                    inner = folder.sub(name, make, last=not names)
                except FolderError:
                    target = _root_link(folder, name)
                    if target is None:
                        raise
                    links += 1
                    if links > MAX_LINKS:
                        raise
                    names = os.path.normpath(os.path.join(
                        folder.path, target)).split('/')[1:] + names
                    names = [part for part in names if part]
                    break
                folder.close()
                folder = inner
            else:
                return folder
        except BaseException:
            folder.close()
            raise
        folder.close()


def _root_link(folder, name):
    """Where the link name leads, when it is root's; else None, raising
    when it is someone else's link."""
    info = folder.lstat(name)
    if not stat.S_ISLNK(info.st_mode):
        return None
    if info.st_uid != 0:
        raise FolderError(UNSAFE % (folder.where(name),
                                    LINK_NOT_ROOTS % info.st_uid))
    return os.readlink(name, dir_fd=folder.fd)


def check_way(path):
    """Every folder from / down to path: root's, and none that others may
    write (open_folder)."""
    open_folder(path).close()


def make_folders(path):
    """Makes the folders of path that are missing, each 0700 whatever the
    umask, and checks the whole way (open_folder)."""
    open_folder(path, make=True).close()


def make_folder(path):
    """One fresh folder, 0700 whatever the umask."""
    with open_folder(os.path.dirname(os.path.abspath(path))) as parent:
        parent.mkdir(os.path.basename(path)).close()


def open_private(path, mode='w'):
    """A file of root's alone for writing, in a judged folder, never
    through a link (Folder.open)."""
    with open_folder(os.path.dirname(os.path.abspath(path))) as parent:
        return parent.open(os.path.basename(path), mode)


def kit_folders(folder, prefix):
    """The kit folders (real folders, not links) directly in folder."""
    kits = []
    try:
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            if name.startswith(prefix) and stat.S_ISDIR(
                    os.lstat(path).st_mode):
                kits.append(path)
    except OSError:
        pass
    return kits


def remove_dead_kits(folder, prefix, lock=LOCK_PATH):
    """Removes the kit folders in folder when no component run is alive
    (they are a dead run's); while one is, they may be its flash's and stay.
    Whether any stayed. Nothing in a folder others control is removed."""
    try:
        if owner_problem(os.lstat(folder)):
            return False
    except OSError:
        return False
    kits = kit_folders(folder, prefix)
    if not kits:
        return False
    alive, held = hold_run_lock(lock)
    if alive:
        return True
    try:
        with open_folder(folder) as handle:
            for kit in kits:
                handle.remove(os.path.basename(kit))
    except (FolderError, OSError):
        pass
    finally:
        if held is not None:
            os.close(held)
    return False
