# Files replaced whole: the mode asked for whatever the umask, and never
# written through a link, whether the link is the file or a leftover
# temporary; JSON read back, or the default.

import collections
import os
import shutil
import stat
import tempfile
import unittest

from ansible_collections.hbafw.fleet.plugins.module_utils import atomic_file

# A row of test_replaced_whole: its name, the umask, the mode asked for, what
# is done to the folder first (DEST and TEMP are the file and its temporary).
Replace = collections.namedtuple('Replace', (
    'name', 'umask', 'mode', 'prepare'), defaults=(
    0o022, atomic_file.PRIVATE, None))


class AtomicFileTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='hbafw-atomic-')
        self.addCleanup(shutil.rmtree, self.dir)
        self.path = os.path.join(self.dir, 'state.json')
        self.elsewhere = os.path.join(self.dir, 'elsewhere')

    def test_replaced_whole(self):
        rows = [
            Replace('private whatever the umask', umask=0),
            Replace('shared under a strict umask', umask=0o077, mode=0o644),
            Replace('the file a link', prepare=lambda: os.symlink(
                self.elsewhere, self.path)),
            Replace('a leftover temporary a link', prepare=lambda: os.symlink(
                self.elsewhere, self.path + atomic_file.TEMPORARY)),
        ]
        for row in rows:
            with self.subTest(row.name):
                for name in os.listdir(self.dir):
                    os.remove(os.path.join(self.dir, name))
                if row.prepare:
                    row.prepare()
                umask = os.umask(row.umask)
                try:
                    atomic_file.write_json(self.path, {'n': 1}, row.mode)
                finally:
                    os.umask(umask)
                info = os.lstat(self.path)
                self.assertEqual((stat.S_ISREG(info.st_mode),
                                  stat.S_IMODE(info.st_mode),
                                  os.path.lexists(self.elsewhere),
                                  sorted(os.listdir(self.dir))),
                                 (True, row.mode, False, ['state.json']))
                self.assertEqual(atomic_file.read_json(self.path), {'n': 1})

    def test_what_is_not_json_reads_as_the_default(self):
        self.assertEqual(atomic_file.read_json(self.path, {}), {})
        atomic_file.replace_file(self.path, '{"n": ')
        self.assertIsNone(atomic_file.read_json(self.path))
