# The bundle's checksum step: an archive's files against its SHA256SUMS, on
# the controller (in the archive) and on a server (unpacked), one row per
# way a bundle can be wrong; and its folders on a server, one row per way a
# local user could have prepared them.

import collections
import fcntl
import functools
import hashlib
import http.server
import io
import json
import os
import shutil
import subprocess
import tarfile
import tempfile
import threading
import time
import unittest
from unittest import mock

from ansible_collections.hbafw.fleet.plugins.module_utils import (
    bundle, folders, mirror)

TOP = 'hbafw-bundle-1.0.0/'
FILES = {'hbafw-qlogic': b'\x7fELF', 'reference.xml': b'<catalogue/>'}
# A row of test_what_a_local_user_prepared_is_refused: its name, what is done
# to ROOT (then HBAFW, BUNDLES, DEST), whether the bundle is placed before;
# the start of the error (None: placed, the folders 0700), whether a kit
# folder is left in DEST; the umask.
Prepared = collections.namedtuple('Prepared', (
    'name', 'prepare', 'placed', 'error', 'kit', 'umask'), defaults=(
    None, False, None, None, 0o022))


def sums_of(files):
    return ''.join('%s  %s\n' % (hashlib.sha256(data).hexdigest(), name)
                   for name, data in sorted(files.items()))


def archive(files, sums=None, extra=()):
    """An in-memory bundle: files, SHA256SUMS (by default right for them)
    and extra (name, type) members."""
    return tarfile.open(fileobj=io.BytesIO(packed(files, sums, extra)))


def packed(files, sums=None, extra=()):
    """The bytes of archive(files, sums, extra)."""
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode='w:gz') as tar:
        members = dict(files, SHA256SUMS=(
            sums_of(files) if sums is None else sums).encode())
        for name, data in members.items():
            info = tarfile.TarInfo(TOP + name)
            info.size, info.mode = len(data), 0o755
            tar.addfile(info, io.BytesIO(data))
        for name, kind in extra:
            info = tarfile.TarInfo(name)
            info.type = kind
            tar.addfile(info)
    return out.getvalue()


class Mirror(http.server.SimpleHTTPRequestHandler):
    """A mirror that also redirects (to/NAME, to/ftp, to/loop to itself)
    and sends trickle a byte at a time."""

    def do_GET(self):
        if self.path.startswith('/to/'):
            target = self.path[len('/to/'):]
            self.send_response(302)
            self.send_header('Location', {
                'ftp': 'ftp://127.0.0.1/b.tar.gz', 'loop': '/to/loop'}.get(
                    target, '/' + target))
            self.end_headers()
        elif self.path == '/trickle':
            self.send_response(200)
            self.end_headers()
            for _byte in range(10):
                self.wfile.write(b'x')
                self.wfile.flush()
                time.sleep(0.4)
        else:
            super().do_GET()

    def log_message(self, *args):
        pass


class ChecksumTest(unittest.TestCase):
    def test_pull_mode_takes_only_a_web_url_and_a_sha256(self):
        # URL, digest: the problem, or None
        digest = hashlib.sha256(b'').hexdigest()
        rows = [('https://mirror/b.tar.gz', digest, None),
                ('http://127.0.0.1:8080/b.tar.gz', digest, None),
                ('file:///etc/shadow', digest, 'bundle_url must be'),
                ('ftp://mirror/b.tar.gz', digest, 'bundle_url must be'),
                ('http:///b.tar.gz', digest, 'bundle_url must be'),
                ('https://mirror/b.tar.gz', digest.upper(),
                 'the bundle digest must be'),
                ('https://mirror/b.tar.gz', digest[1:],
                 'the bundle digest must be')]
        for url, given, problem in rows:
            with self.subTest(url=url, digest=given):
                found = mirror.url_problem(url) or mirror.digest_problem(
                    given)
                self.assertEqual(found and found[:len(problem)], problem)
        # Whether a redirect from https is followed to each target.
        for target, followed in (('https://other:8443/b', True),
                                 ('http://mirror/b', False),
                                 ('file:///etc/shadow', False)):
            with self.subTest(target=target):
                self.assertEqual(mirror.redirect_problem(
                    'https://mirror/b', target) is None, followed)

    def test_fetch_from_a_web_server(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        data = packed(FILES)
        with open(os.path.join(folder, 'b.tar.gz'), 'wb') as handle:
            handle.write(data)
        server = http.server.ThreadingHTTPServer(('127.0.0.1', 0),
                                                 functools.partial(
                                                     Mirror, directory=folder))
        server.daemon_threads = True
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        url = 'http://127.0.0.1:%d/' % server.server_address[1]
        failed = 'cannot fetch the bundle from %s' % url
        # name, limit, timeout: the start of the error, or None (fetched)
        rows = [('b.tar.gz', mirror.LIMIT, 5, None),
                ('to/b.tar.gz', mirror.LIMIT, 5, None),
                ('missing.tar.gz', mirror.LIMIT, 5, failed + 'missing'),
                ('b.tar.gz', len(data) - 1, 5, failed + 'b.tar.gz: the '
                 'mirror sends more than'),
                ('to/ftp', mirror.LIMIT, 5, failed + "to/ftp: the mirror "
                 "redirects to 'ftp://127.0.0.1/b.tar.gz'"),
                ('to/loop', mirror.LIMIT, 5, failed + 'to/loop: more than '
                 '10 redirects'),
                ('trickle', mirror.LIMIT, 1, failed + 'trickle: not '
                 'fetched within 1 seconds')]
        for name, limit, timeout, error in rows:
            with self.subTest(name=name, limit=limit):
                out = io.BytesIO()
                if error is None:
                    mirror.fetch(url + name, out, limit, timeout)
                    self.assertEqual(out.getvalue(), data)
                    continue
                with self.assertRaises(IOError) as caught:
                    mirror.fetch(url + name, out, limit, timeout)
                self.assertEqual(str(caught.exception)[:len(error)], error)
        # Refused before gpgv is ever run.
        self.assertEqual(mirror.signature_problem(
            None, data, '/nowhere.gpg', folder)[:len('bundle not signed')],
            'bundle not signed')

    def test_archives(self):
        changed = dict(FILES, **{'reference.xml': b'<changed/>'})
        fewer = {'hbafw-qlogic': FILES['hbafw-qlogic']}
        # archive, its problems or the start of the error that refuses it
        rows = [
            (archive(FILES), []),
            (archive(changed, sums_of(FILES)),
             ['reference.xml does not match its checksum']),
            (archive(fewer, sums_of(FILES)), ['reference.xml is missing']),
            (archive(FILES, sums_of(fewer)),
             ['reference.xml is not in SHA256SUMS']),
            (archive(FILES, 'not a digest  reference.xml\n'),
             'SHA256SUMS line 1'),
            (archive(FILES, '%s  ../x\n' % ('0' * 64)), 'SHA256SUMS line 1'),
            (archive(FILES, ''), 'SHA256SUMS is empty'),
            (archive(FILES, extra=[(TOP + 'sh', tarfile.SYMTYPE)]),
             'the archive holds %ssh' % TOP),
            (archive(FILES, extra=[('other/x', tarfile.REGTYPE)]),
             'the archive is not one folder'),
            (archive(FILES, extra=[(TOP + '../x', tarfile.REGTYPE)]),
             'the archive holds %s../x' % TOP),
        ]
        for number, (tar, expected) in enumerate(rows):
            with self.subTest(row=number):
                try:
                    problems = bundle.archive_check(
                        tar, bundle.archive_members(tar))
                except bundle.BundleError as error:
                    problems = str(error)[:len(expected)]
                self.assertEqual(problems, expected)

    def test_unpacked_folder(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        tar = archive(FILES)
        bundle.unpack(tar, bundle.archive_members(tar), folder)
        self.assertEqual(bundle.folder_check(folder), [])
        with open(folder + '/reference.xml', 'ab') as handle:
            handle.write(b' ')
        self.assertEqual(bundle.folder_check(folder),
                         ['reference.xml does not match its checksum'])

    def test_folder_in_use_is_kept(self):
        root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, root)
        folder = root + '/bundle'
        data = packed(FILES)
        self.assertTrue(bundle.place(data, hashlib.sha256(data).hexdigest(),
                                     folder)[0])
        shutil.copytree(folder, folder + '-next')
        # where a process runs: whether it keeps the folder
        rows = [(folder, True), (folder + '-next', False), (None, False)]
        for cwd, kept in rows:
            with self.subTest(cwd=cwd):
                if cwd:
                    process = subprocess.Popen(['sleep', '30'], cwd=cwd)
                    self.addCleanup(process.wait)
                    self.addCleanup(process.kill)
                self.assertEqual(bundle.remove(folder, check_mode=True),
                                 (False, 'kept %s: processes %d still run '
                                  'there' % (folder, process.pid)) if kept
                                 else (True, None))
                if cwd:
                    process.kill()
                    process.wait()
        self.assertEqual(bundle.remove(folder), (True, None))
        self.assertEqual(os.listdir(root), ['bundle-next'])
        self.assertEqual(bundle.remove(folder), (False, None))

    def test_a_placed_folder_is_checked_by_its_record(self):
        def edit_record(change):
            with open(p.record) as handle:
                record = json.load(handle)
            change(record)
            with open(p.record, 'w') as handle:
                json.dump(record, handle)

        def changed(p):
            info = os.stat(p.dest + '/reference.xml')
            with open(p.dest + '/reference.xml', 'r+b') as handle:
                handle.write(b'>')
            os.utime(p.dest + '/reference.xml', ns=(info.st_atime_ns,
                                                    info.st_mtime_ns))
        # what is done to the placed folder: the start of the next
        # placement's error (None: placed), whether it unpacks the archive,
        # how many files it reads
        rows = [('nothing', lambda p: None, None, False, 0),
                ('a file changed, its time set back', changed,
                 'reference.xml does not match', False, 1),
                ('the record of another archive', lambda p: edit_record(
                    lambda record: record.update(archive='0' * 64)),
                 None, True, 3),
                ('the record open to others',
                 lambda p: os.chmod(p.record, 0o604), None, True, 3),
                ('the record not a list of numbers', lambda p: edit_record(
                    lambda record: record['files'].update(x=[])),
                 None, True, 3)]
        data = packed(FILES)
        digest = hashlib.sha256(data).hexdigest()
        for name, prepare, error, unpacks, reads in rows:
            with self.subTest(name):
                p = mock.Mock(root=tempfile.mkdtemp())
                self.addCleanup(shutil.rmtree, p.root)
                p.dest, p.record = (p.root + '/' + digest, p.root + '/' +
                                    bundle.RECORD % digest)
                bundle.place(data, digest, p.dest, keep_record=False)
                self.assertFalse(os.path.exists(p.record))
                # Files written just before a check are read again.
                time.sleep(0.2)
                bundle.place(data, digest, p.dest)
                prepare(p)
                with mock.patch.object(bundle, 'archive_digests', wraps=bundle.
                                       archive_digests) as unpacked, \
                        mock.patch.object(bundle, 'file_digest', wraps=bundle.
                                          file_digest) as read:
                    try:
                        bundle.place(data, digest, p.dest)
                        problem = None
                    except bundle.BundleError as failure:
                        problem = str(failure)[:len(error)]
                self.assertEqual((problem, unpacked.called, read.call_count),
                                 (error, unpacks, reads))
                if error is None:
                    with open(p.record) as handle:
                        self.assertEqual(json.load(handle)['archive'], digest)
                    self.assertEqual(os.stat(p.record).st_mode, 0o100600)


class ServerFolderTest(unittest.TestCase):
    def test_what_a_local_user_prepared_is_refused(self):
        if os.geteuid() != 0:
            self.skipTest('needs root to give folders to another user')
        user = 65534
        rows = [
            Prepared('umask 000', umask=0),
            Prepared('bundles of a user', lambda p: (
                os.makedirs(p.bundles), os.chown(p.bundles, user, 0)),
                error='unsafe server folder BUNDLES: it belongs to user '
                '65534'),
            Prepared('hbafw open to others', lambda p: (
                os.makedirs(p.hbafw), os.chmod(p.hbafw, 0o777)),
                error='unsafe server folder HBAFW: group or others may '
                'write it (mode 0777)'),
            Prepared('ROOT sticky and open',
                     lambda p: os.chmod(p.root, 0o1777)),
            Prepared('digest folder forged, consistent with itself',
                     lambda p: bundle.place(
                         forged, hashlib.sha256(forged).hexdigest(), p.dest),
                     error='SHA256SUMS does not match the verified archive'),
            Prepared('digest folder a link', lambda p: (
                os.rename(p.dest, p.root + '/elsewhere'),
                os.symlink(p.root + '/elsewhere', p.dest)), placed=True,
                error='the folder DEST: it is a symbolic link'),
            Prepared('digest folder of a user',
                     lambda p: os.chown(p.dest, user, 0), placed=True,
                     error='the folder DEST: it belongs to user 65534'),
            Prepared('a file others may write',
                     lambda p: os.chmod(p.dest + '/reference.xml', 0o666),
                     placed=True,
                     error='reference.xml may be written by group or others'),
            Prepared('a file of a user',
                     lambda p: os.chown(p.dest + '/reference.xml', user, 0),
                     placed=True,
                     error='reference.xml belongs to user 65534'),
            Prepared("a dead run's kit folder",
                     lambda p: os.makedirs(p.dest + '/.hbafw-kit.AbC123/lx'),
                     placed=True, kit=False),
            Prepared("a live run's kit folder", lambda p: (
                os.makedirs(p.dest + '/.hbafw-kit.AbC123/lx'),
                fcntl.flock(p.lock, fcntl.LOCK_EX)), placed=True, kit=True),
        ]
        data = packed(FILES)
        digest = hashlib.sha256(data).hexdigest()
        forged = packed(dict(FILES, **{'hbafw-qlogic': b'#!/bin/sh\nid\n'}))
        for name, prepare, placed, error, kit, umask in rows:
            with self.subTest(name):
                p = mock.Mock(root=tempfile.mkdtemp())
                self.addCleanup(shutil.rmtree, p.root)
                p.hbafw = p.root + '/hbafw'
                p.bundles = p.hbafw + '/bundles'
                p.dest = p.bundles + '/' + digest
                p.lock = os.open(p.root + '/lock', os.O_CREAT | os.O_RDWR)
                self.addCleanup(os.close, p.lock)
                if placed:
                    bundle.place(data, digest, p.dest)
                if prepare:
                    prepare(p)
                umask = os.umask(umask)
                try:
                    with mock.patch.object(bundle, 'LOCK_PATH',
                                           p.root + '/lock'):
                        bundle.place(data, digest, p.dest)
                    problem = None
                except (bundle.BundleError, folders.FolderError) as failure:
                    problem = str(failure)
                finally:
                    os.umask(umask)
                for path in ('DEST', 'BUNDLES', 'HBAFW'):
                    problem = problem and problem.replace(
                        getattr(p, path.lower()), path)
                self.assertEqual(problem if error is None
                                 else problem and problem[:len(error)], error)
                if error is None:
                    self.assertEqual([oct(os.stat(path).st_mode & 0o7777)
                                      for path in (p.hbafw, p.bundles,
                                                   p.dest)],
                                     ['0o700', '0o700', '0o700'])
                if kit is not None:
                    self.assertEqual(os.path.isdir(
                        p.dest + '/.hbafw-kit.AbC123'), kit)


if __name__ == '__main__':
    unittest.main()
