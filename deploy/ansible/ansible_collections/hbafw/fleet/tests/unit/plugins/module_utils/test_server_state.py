# The server's history file and restart signal: bounded, private, never
# written through a link, and another package's signal left alone.

import os
import shutil
import stat
import tempfile
import unittest

from ansible_collections.hbafw.fleet.plugins.module_utils.server_state import (
    append_history, clear_signal, raise_signal, read_history, signal_state)


class ServerStateTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix='hbafw-state-')
        self.addCleanup(shutil.rmtree, self.folder)
        self.history = os.path.join(self.folder, 'lib', 'history.jsonl')
        self.signal = os.path.join(self.folder, 'reboot-required')

    def test_history_keeps_the_newest_records_that_fit(self):
        for n in range(30):
            append_history(self.history, dict(n=n), limit=100)
        kept = [entry['n'] for entry in read_history(self.history, None)]
        self.assertEqual(kept, list(range(30 - len(kept), 30)))
        self.assertLessEqual(os.path.getsize(self.history), 100)
        self.assertEqual([e['n'] for e in read_history(self.history, 2)],
                         [28, 29])
        self.assertEqual(stat.S_IMODE(os.stat(self.history).st_mode), 0o600)
        self.assertEqual(os.listdir(os.path.dirname(self.history)),
                         ['history.jsonl'])

    def test_history_is_never_written_through_a_link(self):
        target = os.path.join(self.folder, 'elsewhere')
        os.makedirs(os.path.dirname(self.history))
        os.symlink(target, self.history)
        with self.assertRaises(OSError):
            append_history(self.history, dict(n=1))
        self.assertFalse(os.path.exists(target))
        self.assertEqual(read_history(self.history), [])

    def test_signal_names_the_package_once_and_leaves_others(self):
        # packages listed before, raise or clear: packages after, signal file
        rows = [
            (None, 'raise', ['hbafw'], True),
            (['other'], 'raise', ['other', 'hbafw'], True),
            (['hbafw'], 'raise', ['hbafw'], True),
            (['other', 'hbafw'], 'clear', ['other'], True),
            (['hbafw'], 'clear', None, False),
            (['other'], 'clear', ['other'], True),
        ]
        for before, action, after, present in rows:
            with self.subTest(before=before, action=action):
                for name in (self.signal, self.signal + '.pkgs'):
                    if os.path.lexists(name):
                        os.remove(name)
                if before is not None:
                    with open(self.signal, 'w') as handle:
                        handle.write('*** System restart required ***\n')
                    with open(self.signal + '.pkgs', 'w') as handle:
                        handle.write(''.join(p + '\n' for p in before))
                (raise_signal if action == 'raise' else clear_signal)(
                    self.signal)
                listed = None
                if os.path.exists(self.signal + '.pkgs'):
                    with open(self.signal + '.pkgs') as handle:
                        listed = handle.read().split()
                self.assertEqual((listed, os.path.exists(self.signal)),
                                 (after, present))
                self.assertEqual(signal_state(self.signal)[0],
                                 'hbafw' in (after or []))


if __name__ == '__main__':
    unittest.main()
