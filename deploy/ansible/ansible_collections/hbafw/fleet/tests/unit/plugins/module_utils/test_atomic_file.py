# A file replaced whole has the mode asked for whatever the umask, follows a
# root's link on the way, and refuses a user's link to a root folder and a
# folder others may write; the other attacks a local user can make on it are
# the attack table's FleetModuleState rows.

import collections
import os
import shutil
import stat
import tempfile
import unittest

from ansible_collections.hbafw.fleet.plugins.module_utils import atomic_file
from ansible_collections.hbafw.fleet.plugins.module_utils.folders import (
    FolderError)

USER = 65534
# A row of test_replaced_whole: its name, the umask, the mode asked for, what
# is done to the folder first, and whether the write is refused.
Replace = collections.namedtuple('Replace', (
    'name', 'umask', 'mode', 'prepare', 'refused'), defaults=(
    0o022, atomic_file.PRIVATE, None, False))


class AtomicFileTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='hbafw-atomic-')
        self.addCleanup(shutil.rmtree, self.dir)
        self.way = os.path.join(self.dir, 'way')
        self.path = os.path.join(self.way, 'state.json')
        self.elsewhere = os.path.join(self.dir, 'elsewhere')

    def link_way(self, owner):
        os.rename(self.way, self.elsewhere)
        os.symlink(self.elsewhere, self.way)
        os.lchown(self.way, owner, owner)

    def test_replaced_whole(self):
        rows = [
            Replace('private whatever the umask', umask=0),
            Replace('shared under a strict umask', umask=0o077, mode=0o644),
            Replace('the file a link', prepare=lambda: os.symlink(
                self.elsewhere, self.path)),
            Replace('a root link on the way', prepare=lambda: self.link_way(
                0)),
            # The table's links lead into a user's folder; this one leads
            # to root's, so only the link's owner refuses it.
            Replace('a user link on the way', refused=True,
                    prepare=lambda: self.link_way(USER)),
            Replace('a folder on the way others may write', refused=True,
                    prepare=lambda: os.chmod(self.way, 0o777)),
        ]
        for row in rows:
            with self.subTest(row.name):
                shutil.rmtree(self.dir)
                os.makedirs(self.way, 0o700)
                if row.prepare:
                    row.prepare()
                umask = os.umask(row.umask)
                try:
                    if row.refused:
                        with self.assertRaises(FolderError):
                            atomic_file.write_json(self.path, {'n': 1})
                        continue
                    atomic_file.write_json(self.path, {'n': 1}, row.mode)
                finally:
                    os.umask(umask)
                real = os.path.realpath(self.way)
                info = os.lstat(os.path.join(real, 'state.json'))
                self.assertEqual((stat.S_ISREG(info.st_mode),
                                  stat.S_IMODE(info.st_mode),
                                  sorted(os.listdir(real))),
                                 (True, row.mode, ['state.json']))
                self.assertEqual(atomic_file.read_json(self.path), {'n': 1})

    def test_what_is_not_json_reads_as_the_default(self):
        os.makedirs(self.way)
        self.assertEqual(atomic_file.read_json(self.path, {}), {})
        atomic_file.replace_file(self.path, '{"n": ')
        self.assertIsNone(atomic_file.read_json(self.path))
