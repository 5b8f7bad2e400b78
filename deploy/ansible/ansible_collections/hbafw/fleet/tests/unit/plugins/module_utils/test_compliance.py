# A server's compliance as hbafw_info reports it, from hbafw-inventory's
# documents and the restart state.

import collections
import unittest

from ansible_collections.hbafw.fleet.plugins.module_utils import outcomes
from ansible_collections.hbafw.fleet.plugins.module_utils.compliance import (
    busy, outcome)

UPGRADE = {'action': 'upgrade'}
REWRITE = {'action': 'rewrite'}

# A row of test_outcome: hbafw-inventory's catalogue objects, the adapters it
# listed, whether a restart is due; the compliance.
Read = collections.namedtuple('Read', (
    'catalogues', 'adapters', 'reboot', 'compliance'))


class ComplianceTest(unittest.TestCase):
    def test_outcome(self):
        compared = {'discovered': True, 'busy': False}
        rows = [
            Read([dict(compared, items=[UPGRADE, REWRITE])], [{}], False,
                 outcomes.UPDATE_AVAILABLE),
            Read([dict(compared, items=[REWRITE])], [{}], False,
                 outcomes.COMPLIANT),
            Read([dict(compared, items=[UPGRADE])], [{}], True,
                 outcomes.REBOOT_REQUIRED),
            Read([dict(compared, items=[])], [], False, outcomes.NO_ADAPTER),
            Read([None], [{}], False, None),
            # An update holds the server: nothing was compared, whatever else.
            Read([compared, {'discovered': False, 'busy': True, 'items': []}],
                 [{}], True, outcomes.BUSY),
        ]
        for catalogues, adapters, reboot, compliance in rows:
            with self.subTest(catalogues=catalogues, reboot=reboot):
                documents = [{'catalogue': catalogue}
                             for catalogue in catalogues]
                items = [item for catalogue in catalogues
                         for item in (catalogue or {}).get('items', [])]
                catalogued = any((catalogue or {}).get('discovered')
                                 for catalogue in catalogues)
                self.assertEqual(outcome(adapters, items, catalogued, reboot,
                                         busy(documents)), compliance)
