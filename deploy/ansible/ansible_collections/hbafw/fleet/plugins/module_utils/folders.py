# The module's own folders on a server (the bundles' and the runs' folders
# and those above them): made root-only with exact modes whatever the umask,
# and trusted only while no one but root can change what they hold; and the
# Emulex kit folders dead component runs left behind, removed. It never
# repairs a folder's owner or mode, and starts no process.

from __future__ import absolute_import, division, print_function

import errno
import os
import shutil
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


def check_way(path):
    """Every folder from / down to path: root's, and none that others may
    write (but a sticky one above path). A link on the way must be root's,
    and so must everything on the way to where it leads."""
    path = os.path.abspath(path)
    for way, as_given in ((path, True), (os.path.realpath(path), False)):
        prefix = '/'
        for name in [''] + [part for part in way.split('/') if part]:
            prefix = os.path.join(prefix, name)
            info = os.lstat(prefix)
            if stat.S_ISLNK(info.st_mode) and as_given:
                if info.st_uid != 0:
                    raise FolderError(UNSAFE % (prefix, NOT_ROOTS
                                                % info.st_uid))
                continue
            problem = owner_problem(info, sticky_ok=prefix != way)
            if problem:
                raise FolderError(UNSAFE % (prefix, problem))


def make_folders(path):
    """Makes the folders of path that are missing, each 0700 whatever the
    umask, and checks the whole way (check_way)."""
    path = os.path.abspath(path)
    prefix = '/'
    for name in [part for part in path.split('/') if part]:
        prefix = os.path.join(prefix, name)
        try:
            os.mkdir(prefix, FOLDER_MODE)
        except OSError as error:
            if error.errno != errno.EEXIST:
                raise
            continue
        # The umask may only have narrowed the mode; set it exactly.
        os.chmod(prefix, FOLDER_MODE)
    check_way(path)


def make_folder(path):
    """One fresh folder, 0700 whatever the umask."""
    os.mkdir(path, FOLDER_MODE)
    os.chmod(path, FOLDER_MODE)


# open_private's modes, as open() names them: emptied, appended to, or new.
PRIVATE_MODES = {'w': os.O_TRUNC, 'a': os.O_APPEND, 'x': os.O_EXCL}


def open_private(path, mode='w'):
    """A file of root's alone for writing, never through a link; mode as
    open()'s: 'w', 'a' or 'x', with 'b' for bytes."""
    descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_NOFOLLOW |
                         PRIVATE_MODES[mode[0]], 0o600)
    os.fchmod(descriptor, 0o600)
    return os.fdopen(descriptor, mode.replace('x', 'w'))


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
        for kit in kits:
            shutil.rmtree(kit, ignore_errors=True)
    finally:
        if held is not None:
            os.close(held)
    return False
