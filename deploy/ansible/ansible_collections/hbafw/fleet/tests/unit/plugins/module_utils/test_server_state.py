# The server's history file and restart signal: bounded, private, never
# written through a link, and another package's signal left alone.

import collections
import os
import shutil
import stat
import tempfile
import unittest

from ansible_collections.hbafw.fleet.plugins.module_utils.server_state import (
    append_history, clear_signal, raise_signal, read_history,
    refresh_metrics, signal_state)

# A row of test_signal_names_the_package_once_and_leaves_others: the packages
# listed before (None: no signal, (): a signal without a list), raise or
# clear; the packages after, whether the signal file is there, and whether
# the package made it (raise's answer, clear's argument).
Signal = collections.namedtuple('Signal', (
    'before', 'action', 'after', 'present', 'made'), defaults=(True, False))


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

    def test_unreadable_lines_are_skipped_and_counted(self):
        os.makedirs(os.path.dirname(self.history))
        with open(self.history, 'wb') as handle:
            handle.write(b'{"n": 1}\n\xff\xfe torn\n{"n": \n[2]\n')
        self.assertEqual(read_history(self.history), [dict(n=1)])
        self.assertEqual(append_history(self.history, dict(n=3)), 3)
        self.assertEqual(append_history(self.history, dict(n=4)), 0)
        self.assertEqual([e['n'] for e in read_history(self.history)],
                         [1, 3, 4])

    def test_signal_names_the_package_once_and_leaves_others(self):
        rows = [
            Signal(None, 'raise', ['hbafw'], made=True),
            Signal(['other'], 'raise', ['other', 'hbafw']),
            Signal(['hbafw'], 'raise', ['hbafw']),
            Signal((), 'raise', ['hbafw']),
            Signal(['other', 'hbafw'], 'clear', ['other'], made=True),
            Signal(['hbafw'], 'clear', None, present=False, made=True),
            Signal(['hbafw'], 'clear', None, made=False),
            Signal(['other'], 'clear', ['other'], made=True),
        ]
        for before, action, after, present, made in rows:
            with self.subTest(before=before, action=action):
                for name in (self.signal, self.signal + '.pkgs'):
                    if os.path.lexists(name):
                        os.remove(name)
                if before is not None:
                    with open(self.signal, 'w') as handle:
                        handle.write('*** System restart required ***\n')
                if before:
                    with open(self.signal + '.pkgs', 'w') as handle:
                        handle.write(''.join(p + '\n' for p in before))
                if action == 'raise':
                    self.assertEqual(raise_signal(self.signal), made)
                else:
                    clear_signal(self.signal, made)
                listed = None
                if os.path.exists(self.signal + '.pkgs'):
                    with open(self.signal + '.pkgs') as handle:
                        listed = handle.read().split()
                self.assertEqual((listed, os.path.exists(self.signal)),
                                 (after, present))
                self.assertEqual(signal_state(self.signal)[0],
                                 'hbafw' in (after or []))

    def test_metrics_are_written_by_a_trusted_inventory_only(self):
        textfiles = os.path.join(self.folder, 'node-exporter')
        metrics = os.path.join(textfiles, 'hbafw.prom')
        tool = os.path.join(self.folder, 'hbafw-inventory')
        # name, textfile folder there, tool mode, its exit code: whether
        # written, the start of the warning
        rows = [('no node_exporter', False, 0o755, 0, False, None),
                ('written', True, 0o755, 0, True, None),
                ('no adapter, still written', True, 0o755, 3, True, None),
                ('others may change the tool', True, 0o757, 0, False,
                 'metrics not written to METRICS: TOOL may be written'),
                ('the tool fails', True, 0o755, 4, False,
                 'metrics not written to METRICS: cannot write')]
        for name, there, mode, code, written, warning in rows:
            with self.subTest(name):
                shutil.rmtree(textfiles, ignore_errors=True)
                if there:
                    os.mkdir(textfiles, 0o755)
                with open(tool, 'w') as handle:
                    handle.write('#!/bin/sh\n')
                os.chmod(tool, mode)
                calls = []

                def run(args):
                    calls.append(args)
                    return code, '', 'cannot write' if code == 4 else ''
                done, why = refresh_metrics(run, tool, metrics)
                why = why and why.replace(metrics, 'METRICS').replace(
                    tool, 'TOOL')
                self.assertEqual((done, why and why[:len(warning)]),
                                 (written, warning))
                self.assertEqual(calls, [[tool, '--prometheus', metrics]]
                                 if there and mode == 0o755 else [])


if __name__ == '__main__':
    unittest.main()
