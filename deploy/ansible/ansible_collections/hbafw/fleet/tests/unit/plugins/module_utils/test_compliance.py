# A server's compliance as hbafw_info reports it: one whose update holds the
# components' lock was compared with nothing, whatever else its documents say;
# the other words follow from its builds' items, one row each.

import os
import shutil
import tempfile
import unittest

from ansible_collections.hbafw.fleet.plugins.module_utils import outcomes
from ansible_collections.hbafw.fleet.plugins.module_utils.compliance import (
    builds_of, busy, outcome, restart_state)

UPGRADE = {'action': 'upgrade', 'active_version': '2.02'}
REWRITE = {'action': 'rewrite', 'active_version': '3.28'}
DOWNGRADE = {'action': 'downgrade', 'active_version': '9.1'}
# The comparison calls N/A older than any version.
NOT_A_VERSION = {'action': 'downgrade', 'active_version': 'N/A'}
EMPTY = {'action': 'upgrade', 'active_version': ''}
QLOGIC = {'hbafw-qlogic': True}
# (name, items, builds, reboot required, compared, compliance)
ROWS = [
    ('upgrade due', [UPGRADE, REWRITE], QLOGIC, False, True,
     outcomes.UPDATE_AVAILABLE),
    ('current', [REWRITE], QLOGIC, False, True, outcomes.COMPLIANT),
    ('newer firmware', [DOWNGRADE, REWRITE], QLOGIC, False, True,
     outcomes.NEWER),
    ('newer and due', [DOWNGRADE, UPGRADE], QLOGIC, False, True,
     outcomes.UPDATE_AVAILABLE),
    ('N/A', [NOT_A_VERSION, REWRITE], QLOGIC, False, True,
     outcomes.VERSION_UNREADABLE),
    ('empty version', [EMPTY], QLOGIC, True, True,
     outcomes.VERSION_UNREADABLE),
    ('a vendor unlisted', [REWRITE],
     {'hbafw-qlogic': True, 'hbafw-emulex': False}, False, True,
     outcomes.NOT_LISTED),
    ('no build ran', [], {}, False, True, outcomes.NOT_COMPARED),
    ('flashed', [REWRITE], QLOGIC, True, True, outcomes.REBOOT_REQUIRED),
    ('no catalogue', [], {}, False, False, None),
]


class ComplianceTest(unittest.TestCase):
    def test_a_held_server_is_busy(self):
        compared = {'catalogue': {'discovered': True, 'busy': False}}
        held = {'catalogue': {'discovered': False, 'busy': True}}
        self.assertFalse(busy([compared, {'catalogue': None}]))
        self.assertEqual(outcome([{}], [UPGRADE], QLOGIC, False,
                                 busy([compared])), outcomes.UPDATE_AVAILABLE)
        self.assertTrue(busy([compared, held]))
        self.assertEqual(outcome([{}], [UPGRADE], QLOGIC, True,
                                 busy([compared, held])), outcomes.BUSY)

    def test_words(self):
        for name, items, builds, reboot, compared, expected in ROWS:
            self.assertEqual(outcome([{}], items, builds, reboot,
                                     compared=compared), expected, name)

    def test_a_build_lists_its_adapters_in_any_document(self):
        def document(discovered, devices):
            return {'catalogue': {'builds': [{
                'build': 'hbafw-emulex', 'discovered': discovered,
                'devices': devices}]}}
        self.assertEqual(builds_of([document(True, 0)]),
                         {'hbafw-emulex': False})
        self.assertEqual(builds_of([document(False, 0), document(True, 2)]),
                         {'hbafw-emulex': True})

    def test_the_components_record_holds_until_the_next_boot(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        boot, record = (os.path.join(folder, name)
                        for name in ('boot_id', 'finished'))
        with open(boot, 'w') as handle:
            handle.write('b2\n')
        # (record's text, restart state)
        for text, state in (('b2\n1700000000\n', (True, 1700000000)),
                            ('b1\n1700000000\n', (False, None)),
                            ('b2\nsoon\n', (False, None))):
            with open(record, 'w') as handle:
                handle.write(text)
            self.assertEqual(restart_state(folder, os.path.join(
                folder, 'signal'), boot, record), state, text)
