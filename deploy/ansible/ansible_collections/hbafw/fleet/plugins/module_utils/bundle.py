# Reading and checking a bundle, hbafw-bundle-VERSION.tar.gz: one folder
# holding the vendor builds, the vendor's tools and catalogue, SHA256SUMS over
# every other file and, when signed, SHA256SUMS.sig; and its digest-named
# folder on a server, trusted only while root's alone and holding exactly the
# verified archive's files, which a record of their digests beside it lets a
# later check confirm without reading what did not change. Standard library
# only, as it runs on the controller and on every server; it starts no
# process and leaves verifying the signature to the caller.

from __future__ import absolute_import, division, print_function

import errno
import hashlib
import io
import json
import os
import re
import stat
import tarfile
import time

from ansible_collections.hbafw.fleet.plugins.module_utils.component import (
    LOCK_PATH)
from ansible_collections.hbafw.fleet.plugins.module_utils.folders import (
    OLD_KIT_PREFIX, OPEN_BITS, FolderError, open_folder, owner_problem,
    remove_dead_kits)
from ansible_collections.hbafw.fleet.plugins.module_utils.outcomes import (
    BUNDLE_CORRUPT)

__metaclass__ = type

SUMS = 'SHA256SUMS'
SIGNATURE = 'SHA256SUMS.sig'
# Every message of a bundle that does not match starts so.
CORRUPT = BUNDLE_CORRUPT
# A line of sha256sum's output: digest, a space, ' ' or '*', the file name.
# Where the digests a folder is checked against come from, when not from its
# own SHA256SUMS.
ARCHIVE = 'the verified archive'
SUMS_MISMATCH = '%s does not match its checksum'
ARCHIVE_MISMATCH = '%s does not match the verified archive'
SUMS_LINE = re.compile(r'^([0-9a-f]{64}) [ *](.+)$')
CHUNK = 1 << 20


class BundleError(ValueError):
    """The bundle is not one this collection can trust or unpack."""


# What reading a broken bundle raises besides BundleError: a damaged archive,
# or content that is not base64 (ValueError, as BundleError is one).
BROKEN = (ValueError, tarfile.TarError, EOFError)


def safe_name(name):
    # The bundle is flat: a name with a slash could reach outside its folder.
    return name not in ('', '.', '..') and '/' not in name and '\0' not in name


def parse_sums(text):
    """SHA256SUMS as {file name: digest}."""
    sums = {}
    for number, line in enumerate(text.splitlines(), 1):
        match = SUMS_LINE.match(line)
        if not match or not safe_name(match.group(2)):
            raise BundleError('%s line %d is not "DIGEST  NAME": %r'
                              % (SUMS, number, line[:80]))
        if match.group(2) in sums:
            raise BundleError('%s names %s twice' % (SUMS, match.group(2)))
        sums[match.group(2)] = match.group(1)
    if not sums:
        raise BundleError('%s is empty' % SUMS)
    return sums


def check_sums(sums, digests, source=SUMS):
    """What is wrong when files with these digests should match sums, which
    come from source."""
    problems = []
    for name in sorted(set(sums) | set(digests)):
        if name not in digests:
            problems.append('%s is missing' % name)
        elif name not in sums:
            problems.append('%s is not in %s' % (name, source))
        elif sums[name] != digests[name]:
            problems.append((SUMS_MISMATCH if source == SUMS
                             else ARCHIVE_MISMATCH) % name)
    return problems


def stream_digest(stream):
    digest = hashlib.sha256()
    for chunk in iter(lambda: stream.read(CHUNK), b''):
        digest.update(chunk)
    return digest.hexdigest()


def file_digest(path):
    with open(path, 'rb') as handle:
        return stream_digest(handle)


def archive_members(tar, read=None):
    """{name: member} of the bundle's files, below its one top folder, or
    {name: read(name, member)}: read in the archive's order, so that a
    compressed stream is unpacked once."""
    members, tops = {}, set()
    for member in tar:
        parts = member.name.strip('/').split('/')
        tops.add(parts[0])
        if len(parts) == 1 and member.isdir():
            continue
        if len(parts) != 2 or not member.isfile() or not safe_name(parts[1]):
            raise BundleError('the archive holds %s, which is not a plain '
                              'file in its top folder' % member.name)
        if parts[1] in members:
            raise BundleError('the archive holds %s twice' % member.name)
        members[parts[1]] = read(parts[1], member) if read else member
    if len(tops) != 1 or SUMS not in members:
        raise BundleError('the archive is not one folder holding %s' % SUMS)
    return members


def member_digests(tar, members):
    """{file name: SHA-256} of the archive's members."""
    return dict((name, stream_digest(tar.extractfile(member)))
                for name, member in members.items())


def archive_check(tar, members, digests=None):
    """Problems of an opened bundle archive against its own SHA256SUMS;
    digests, when given, are its member_digests."""
    sums = parse_sums(tar.extractfile(members[SUMS]).read().decode())
    digests = dict(digests or member_digests(tar, members))
    for name in (SUMS, SIGNATURE):
        digests.pop(name, None)
    return check_sums(sums, digests)


def archive_stream(archive):
    """The archive (bytes, or a binary file read from its start) as a
    stream."""
    if isinstance(archive, bytes):
        return io.BytesIO(archive)
    archive.seek(0)
    return archive


def check_arrival(archive, digest):
    # Bytes are hashed whole: read through a stream, each chunk is a copy.
    copied = (hashlib.sha256(archive).hexdigest() if isinstance(
        archive, bytes) else stream_digest(archive_stream(archive)))
    if copied != digest:
        raise BundleError('the archive arrived with digest %s, not %s'
                          % (copied, digest))


def archive_digests(archive, folder=None):
    """{file name: SHA-256} of every file of the archive (archive_stream),
    SHA256SUMS and its signature included; with folder (a Folder), each
    file is written there as it is read."""
    with tarfile.open(fileobj=archive_stream(archive), mode='r|*') as tar:
        if folder is None:
            return archive_members(tar, lambda name, member: stream_digest(
                tar.extractfile(member)))
        return archive_members(tar, lambda name, member: unpack_file(
            tar.extractfile(member), folder, name, member.mode & 0o111))


def file_problem(info):
    """Why a file of a bundle folder with this lstat result may not be run,
    or None."""
    if not stat.S_ISREG(info.st_mode):
        return 'is not a plain file'
    if info.st_uid not in (0, os.geteuid()):
        return 'belongs to user %d, not root' % info.st_uid
    if info.st_mode & OPEN_BITS:
        return 'may be written by group or others (mode %04o)' % (
            stat.S_IMODE(info.st_mode))
    return None


def stat_key(info):
    """What of a file's lstat result changes when it is written (even with
    its time set back), replaced, or given another owner or mode."""
    return [info.st_size, info.st_mode, info.st_uid, info.st_gid,
            info.st_ino, info.st_mtime_ns, info.st_ctime_ns]


def folder_files(folder, tidy=True, known=None):
    """The files of a bundle folder as {name: (stat key, SHA-256)}, or the
    problem that refuses it. A file whose stat key is still the one known
    ({name: (stat key, SHA-256)}) gives, unread, the digest known of it.
    The kit folders an older component left in it are removed (tidy) when
    their run is dead and passed over while it may be flashing from them."""
    problem = owner_problem(os.lstat(folder))
    if problem:
        return 'the folder %s: %s' % (folder, problem), None
    if tidy:
        remove_dead_kits(folder, OLD_KIT_PREFIX, LOCK_PATH)
    files = {}
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        info = os.lstat(path)
        if name.startswith(OLD_KIT_PREFIX) and stat.S_ISDIR(info.st_mode):
            continue
        problem = file_problem(info)
        if problem:
            return '%s %s' % (name, problem), None
        key = stat_key(info)
        recorded = (known or {}).get(name)
        # Read after its lstat: a write while it is read leaves a key that
        # no longer matches, so the next check reads it again.
        files[name] = key, (recorded[1] if recorded and recorded[0] == key
                            else file_digest(path))
    return None, files


def checked_files(folder, expected=None, tidy=True, known=None):
    """(problems, folder_files) of an unpacked bundle folder: it must be
    root's alone and hold exactly the files of expected ({name: digest} of
    the verified archive) or, without it, what its own SHA256SUMS lists."""
    problem, files = folder_files(folder, tidy, known)
    if problem:
        return [problem], None
    digests = dict((name, digest) for name, (_key, digest) in files.items())
    if expected is not None:
        return check_sums(expected, digests, ARCHIVE), files
    try:
        sums = parse_sums(open_text(os.path.join(folder, SUMS)))
    except (IOError, OSError) as error:
        return ['%s cannot be read: %s' % (SUMS, error)], files
    except BundleError as error:
        return [str(error)], files
    for name in (SUMS, SIGNATURE):
        digests.pop(name, None)
    return check_sums(sums, digests), files


def folder_check(folder, expected=None, tidy=True):
    """Problems of an unpacked bundle folder (checked_files)."""
    return checked_files(folder, expected, tidy)[0]


def open_text(path):
    with open(path) as handle:
        return handle.read()


def unpack_file(source, folder, name, executable):
    """Writes source into a new file name of folder (a Folder), owned by
    us, 0700 when executable else 0600; its SHA-256."""
    digest = hashlib.sha256()
    with folder.open(name, 'xb', 0o700 if executable else 0o600) as out:
        for chunk in iter(lambda: source.read(CHUNK), b''):
            digest.update(chunk)
            out.write(chunk)
    return digest.hexdigest()


def unpack(tar, members, folder):
    """Write the members into folder, owned by us, executable bits kept."""
    with open_folder(folder) as handle:
        for name, member in members.items():
            unpack_file(tar.extractfile(member), handle, name,
                        member.mode & 0o111)


def check_folder(folder, expected=None, tidy=True, known=None):
    """folder_files of a bundle folder that matches (checked_files), else
    raises BundleError."""
    problems, files = checked_files(folder, expected, tidy, known)
    if problems:
        raise BundleError('; '.join(problems))
    return files


# A placed folder's digest record: the verified archive's digest and, per
# file, its stat key and SHA-256, so that a later check for the same archive
# neither unpacks the archive again nor reads a file that did not change.
# It lies beside the folder in its parent, which place() and remove() open
# judged root's alone and reach both through: a dot-name is never an
# archive's digest, so no bundle folder takes it; inside the folder it would
# be a file the archive lacks, and the state folder is an option of only one
# of the modules that place bundles.
RECORD = '.%s.digests'
DIGEST = re.compile(r'^[0-9a-f]{64}$')
# A file written again within the clock tick a check saw it in keeps its
# stat key: a recorded digest counts only for a file whose last change came
# this long before the check that recorded it (git's racy entries), many
# ticks; on a file system that keeps whole seconds (no nanoseconds), two.
RACY_NS = 10 ** 8
RACY_WHOLE_SECONDS_NS = 2 * 10 ** 9


def now_ns():
    return int(time.time() * 10 ** 9)


def read_record(parent, name):
    """The record of parent's (a Folder's) bundle folder name: (archive
    digest, {file: SHA-256}, {file: (stat key, SHA-256)} of the files whose
    digest counts unread), or None when it is missing, not root's alone or
    malformed."""
    data = parent.read(RECORD % name, private=True)
    if data is None:
        return None
    try:
        record = json.loads(data.decode())
        digests, known = {}, {}
        for file_name, entry in record['files'].items():
            if not (isinstance(entry, list) and len(entry) == 8 and
                    safe_name(file_name) and DIGEST.match(entry[7]) and
                    all(type(number) is int for number in entry[:7])):
                return None
            key, digests[file_name] = entry[:7], entry[7]
            if key[-1] < record['checked'] - (
                    RACY_NS if key[-1] % 10 ** 9 else RACY_WHOLE_SECONDS_NS):
                known[file_name] = key, entry[7]
        if not DIGEST.match(record['archive']):
            return None
    except (AttributeError, KeyError, TypeError, ValueError):
        return None
    return record['archive'], digests, known


def write_record(parent, name, archive, files, checked):
    """Records the files of parent's bundle folder name ({file: (stat key,
    SHA-256)}, as a check begun at checked found them) for the archive of
    this digest. One not written only costs the next check its speed."""
    record = {'archive': archive, 'checked': checked, 'files': dict(
        (file_name, key + [digest])
        for file_name, (key, digest) in files.items())}
    try:
        parent.replace(RECORD % name, json.dumps(record, sort_keys=True))
    except (FolderError, OSError):
        pass


def check_placed(parent, name, digest=None, expected=None, archive=None,
                 tidy=True, keep=True):
    """Checks parent's (a Folder's) bundle folder name against the verified
    archive of this digest or, without one, of these file digests
    (expected). A record that vouches for it gives the archive's file
    digests and those of the files unchanged since; else they come from
    expected or from reading the archive (bytes or a file). The record is
    renewed (keep) when anything was read. {file: SHA-256} of the archive;
    raises BundleError when the folder does not match."""
    record = read_record(parent, name)
    if record and (record[0] == digest if digest else record[1] == expected):
        digest, expected, known = record[0], record[1], record[2]
    else:
        known = {}
        if expected is None:
            expected = archive_digests(archive)
    checked = now_ns()
    files = check_folder(parent.where(name), expected, tidy, known)
    if keep and digest and files != known:
        write_record(parent, name, digest, files, checked)
    return expected


def place(archive, digest, dest, keep_record=True):
    """Unpacks the archive (bytes or a file, whose SHA-256 must be digest)
    into the folder dest, mode 0700, its parents made root-only; a dest
    already there is checked against the archive (check_placed), never
    rewritten, as a flash may run from it. The folder's digest record is
    written unless not keep_record. (True when it unpacked, {file name:
    SHA-256} of the archive's files.) Raises BundleError when the archive or
    the folder does not match, FolderError when a parent is not root's
    alone."""
    check_arrival(archive, digest)
    name = os.path.basename(dest)
    with open_folder(os.path.dirname(dest), make=True) as parent:
        if parent.exists(name):
            return False, check_placed(parent, name, digest, archive=archive,
                                       keep=keep_record)
        # Unpacked beside its final name and renamed, so no run ever sees
        # half a bundle under the digest's name.
        handle, partial = parent.make_temporary('.%s.' % name)
        expected = None
        try:
            with handle:
                expected = archive_digests(archive, handle)
            checked = now_ns()
            files = check_folder(parent.where(partial), expected)
            if parent.exists(name):
                raise OSError(errno.EEXIST, name)
            parent.rename(partial, name)
        except OSError:
            # Another run placed it first; that one is checked instead.
            if expected is None or not parent.exists(name):
                raise
            return False, check_placed(parent, name, digest, expected,
                                       keep=keep_record)
        finally:
            parent.remove(partial)
        # Renaming the folder leaves its files' stat keys as checked.
        if keep_record:
            write_record(parent, name, digest, files, checked)
    return True, expected


def users(folder):
    """Processes that run in the folder (or below it) or a program from it.
    Judged by the files themselves, not their names: a process that sees
    another folder under the same path (another mount namespace) is none."""
    ours = set()
    for top, _folders, names in os.walk(folder):
        for path in [top] + [os.path.join(top, name) for name in names]:
            try:
                info = os.stat(path)
            except OSError:
                continue
            ours.add((info.st_dev, info.st_ino))
    pids = []
    for pid in filter(str.isdigit, os.listdir('/proc')):
        for link in ('cwd', 'exe'):
            try:
                info = os.stat('/proc/%s/%s' % (pid, link))
            except OSError:
                continue
            if (info.st_dev, info.st_ino) in ours:
                pids.append(int(pid))
                break
    return pids


def remove(folder, check_mode=False):
    """Removes the bundle folder unless a process still uses it (a flash
    that outlasted its wait): (whether it was or would be removed, a warning
    naming the processes that keep it, or None)."""
    if not os.path.isdir(folder):
        return False, None
    running = users(folder)
    if running:
        return False, 'kept %s: processes %s still run there' % (
            folder, ', '.join(map(str, running)))
    if not check_mode:
        with open_folder(os.path.dirname(folder)) as parent:
            # The record first, so that none outlives its folder.
            parent.remove(RECORD % os.path.basename(folder))
            parent.remove(os.path.basename(folder))
    return True, None


# A run's reference to a bundle folder: one empty file per run id in a folder
# of references, so one run never removes a folder another still uses. A
# reference older than this belongs to a run that died; it no longer counts.
REFERENCE_LIFETIME = 24 * 3600


def hold(references, run_id):
    """Notes that the run uses the bundle folder."""
    with open_folder(references, make=True) as folder:
        folder.touch(run_id)


def release(references, run_id):
    """Drops the run's reference; the other runs that still use the folder,
    in name order."""
    others = []
    try:
        with open_folder(os.path.dirname(references)) as parent, \
                parent.sub(os.path.basename(references)) as folder:
            folder.remove(run_id)
            for name in folder.names():
                try:
                    age = time.time() - folder.lstat(name).st_mtime
                except OSError:
                    continue
                if age < REFERENCE_LIFETIME:
                    others.append(name)
            if not others:
                parent.remove(os.path.basename(references))
    except (FolderError, OSError):
        pass
    return others
