# The bundle's checksum step: an archive's files against its SHA256SUMS, on
# the controller (in the archive) and on a server (unpacked), one row per
# way a bundle can be wrong.

import hashlib
import io
import shutil
import subprocess
import tarfile
import tempfile
import unittest

from ansible_collections.hbafw.fleet.plugins.module_utils import bundle

TOP = 'hbafw-bundle-1.0.0/'
FILES = {'hbafw-qlogic': b'\x7fELF', 'reference.xml': b'<catalogue/>'}


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


class ChecksumTest(unittest.TestCase):
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
                                     folder))
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
        self.assertEqual(bundle.remove(folder), (False, None))


if __name__ == '__main__':
    unittest.main()
