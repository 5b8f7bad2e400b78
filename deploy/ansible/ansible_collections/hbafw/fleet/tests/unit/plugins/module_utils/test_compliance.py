# A server's compliance as hbafw_info reports it: one whose update holds the
# components' lock was compared with nothing, whatever else its documents say.

import unittest

from ansible_collections.hbafw.fleet.plugins.module_utils import outcomes
from ansible_collections.hbafw.fleet.plugins.module_utils.compliance import (
    busy, outcome)


class ComplianceTest(unittest.TestCase):
    def test_a_held_server_is_busy(self):
        compared = {'catalogue': {'discovered': True, 'busy': False}}
        held = {'catalogue': {'discovered': False, 'busy': True}}
        upgrade = [{'action': 'upgrade'}]
        self.assertFalse(busy([compared, {'catalogue': None}]))
        self.assertEqual(outcome([{}], upgrade, True, False,
                                 busy([compared])), outcomes.UPDATE_AVAILABLE)
        self.assertTrue(busy([compared, held]))
        self.assertEqual(outcome([{}], upgrade, True, True,
                                 busy([compared, held])), outcomes.BUSY)
