# Unit tests of the hbafw module's plain functions: report parsing, the
# exit-code mapping, the builds a machine's PCI vendors need, the run lock
# probe and log slicing. The module itself is exercised by its own tests
# (tests/unit/plugins/modules) and the rollout over SSH, not here.

import collections
import fcntl
import os
import shutil
import tempfile
import unittest

from ansible_collections.hbafw.fleet.plugins.module_utils import (
    component, outcomes)

REPORT = '''<?xml version="1.0"?>
<tellin_rom_discovery version="2.0.0.0">
  <type value="QLogic Fibre Channel HBA"/>
  <alt_name value=""/>
  <version value=""/>
  <takes_effect value=""/>
  <devices>
    <device>
      <device_id value="1077.2532.1077.015d"/>
      <product_id value="QLE2562 &amp; &quot;friends&quot;"/>
      <busnumber value=""/>
      <funcnumber value=""/>
      <fw_item>
        <type value="Multiboot Image"/><firmware_id value=""/>
        <version value="3.10"/><active_version value="2.02"/>
        <action value="upgrade"/><duration value="120"/>
        <message value=""/><shared value="no"/>
      </fw_item>
      <fw_item>
        <type value="BIOS"/><firmware_id value=""/>
        <version value="1.0"/><active_version value="1.1"/>
        <action value="downgrade"/><duration value=""/>
        <message value=""/><shared value="no"/>
      </fw_item>
    </device>
    <device>
      <device_id value="1077.2031.1077.0170"/>
      <product_id value="QLE2672"/>
      <fw_item>
        <type value="Multiboot Image"/><version value="3.28"/>
        <active_version value="3.28"/><action value="rewrite"/>
      </fw_item>
    </device>
  </devices>
</tellin_rom_discovery>
'''
EMPTY = ('<tellin_rom_discovery version="2.0.0.0"><type value=""/>'
         '<devices/></tellin_rom_discovery>')
LOCK = component.LOCK_LINE + '\n'


class ReportTest(unittest.TestCase):
    def test_devices_and_items_in_report_order(self):
        adapters = component.parse_report(REPORT)
        self.assertEqual([a['device_id'] for a in adapters],
                         ['1077.2532.1077.015d', '1077.2031.1077.0170'])
        self.assertEqual(adapters[0]['product_id'], 'QLE2562 & "friends"')
        self.assertEqual(adapters[0]['items'][1], {
            'type': 'BIOS', 'version': '1.0', 'active_version': '1.1',
            'action': 'downgrade'})
        self.assertEqual(component.pending_items(adapters), [{
            'type': 'Multiboot Image', 'version': '3.10',
            'active_version': '2.02', 'action': 'upgrade',
            'device_id': '1077.2532.1077.015d'}])

    def test_empty_devices_is_a_report_without_adapters(self):
        self.assertEqual(component.parse_report(EMPTY), [])

    def test_what_is_not_a_report_is_an_error(self):
        for text in ('', '<tellin_rom_discovery>', '<other><devices/></other>',
                     '<tellin_rom_discovery version="2.0.0.0"/>'):
            with self.subTest(text=text):
                with self.assertRaises(component.ReportError):
                    component.parse_report(text)

    def test_would_flash(self):
        adapters = component.parse_report(REPORT)
        current = [adapters[1]]
        rows = [(adapters, False, True), (current, False, False),
                (current, True, True), ([], True, False), ([], False, False)]
        for devices, force, expected in rows:
            with self.subTest(devices=len(devices), force=force):
                self.assertEqual(component.would_flash(devices, force),
                                 expected)


# A row of test_exit_codes: the component's exit code, words the message
# holds, its standard output, the log text; whether changed, whether failed.
Exit = collections.namedtuple('Exit', (
    'code', 'words', 'out', 'log', 'changed', 'failed'), defaults=(
    '', '', False, False))


class OutcomeTest(unittest.TestCase):
    def test_exit_codes(self):
        rows = [
            Exit(1, 'exit code 1', changed=True),
            Exit(3, 'exit code 3'),
            Exit(7, 'exit code 7: failure',
                 log='Flash Engine exit code: 4\n', failed=True),
            Exit(7, component.LOCK_MESSAGE, out=LOCK, failed=True),
            Exit(7, component.LOCK_MESSAGE, log='done.\n' + LOCK,
                 failed=True),
            Exit(7, 'exit code 7: failure', out='x' + LOCK, failed=True),
            Exit(1, 'exit code 1', out=LOCK, changed=True),
            Exit(12, 'exit code 12: passed on', failed=True),
            Exit(0, 'exit code 0: passed on', failed=True),
        ]
        for row in rows:
            with self.subTest(code=row.code, out=row.out, log=row.log):
                result = component.update_outcome(row.code, row.out, row.log)
                self.assertEqual(result[:2], (row.changed, row.failed))
                self.assertIn(row.words, result[2])


class MachineTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def test_builds_follow_the_pci_vendors(self):
        for name, vendor in (('0000:05:00.0', '0x1077\n'),
                             ('0000:04:00.0', '0x1657\n'),
                             ('0000:00:1f.0', '0x8086\n')):
            os.mkdir(os.path.join(self.dir, name))
            with open(os.path.join(self.dir, name, 'vendor'), 'w') as handle:
                handle.write(vendor)
        os.mkdir(os.path.join(self.dir, 'no-vendor-file'))
        vendors = component.pci_vendors(self.dir)
        self.assertEqual(vendors, {'0x1077', '0x1657', '0x8086'})
        self.assertEqual(
            component.builds_for(vendors, component.VENDOR_BUILDS),
            [('0x1077', 'hbafw-qlogic'), ('0x1657', 'hbafw-brocade')])
        self.assertEqual(component.pci_vendors(self.dir + '/missing'), set())
        adapters = component.parse_report(REPORT)
        self.assertEqual(component.own_adapters(adapters, '0x1077'),
                         adapters)
        self.assertEqual(component.own_adapters(adapters, '0x1657'), [])

    def test_lock_probe(self):
        path = os.path.join(self.dir, 'Component.lock')
        self.assertFalse(component.lock_held(path))
        with open(path, 'w') as lock:
            self.assertFalse(component.lock_held(path))
            fcntl.flock(lock, fcntl.LOCK_EX)
            self.assertTrue(component.lock_held(path))
        self.assertFalse(component.lock_held(path))

    def test_flash_end_and_worst_outcome(self):
        rows = [('', None), ('Flash complete [1]\n', 1),
                ('Flash complete [1]\nFlash complete [12]\n', 12),
                ('x Flash complete [1]\nFlash complete [x]\n', None),
                (component.STOPPED_DURING_FLASH + '0\n', 1),
                ('Flash complete [1]\n' + component.STOPPED_DURING_FLASH
                 + '2\n', 7)]
        for text, code in rows:
            self.assertEqual(component.flash_end(text), code, text)
        self.assertEqual(component.worst([outcomes.UPDATED_REBOOT,
                                          outcomes.NO_ADAPTER]),
                         outcomes.UPDATED_REBOOT)
        self.assertEqual(component.worst([outcomes.CURRENT,
                                          outcomes.STILL_FLASHING,
                                          outcomes.FAILED]),
                         outcomes.FAILED)
        self.assertEqual(component.worst([]), outcomes.NO_ADAPTER)


class LogTest(unittest.TestCase):
    def setUp(self):
        handle, self.path = tempfile.mkstemp()
        os.close(handle)
        self.addCleanup(os.remove, self.path)

    def write(self, data, mode='ab'):
        with open(self.path, mode) as log:
            log.write(data)

    def test_slices(self):
        self.write(b'old run\n')
        start = component.log_size(self.path)
        self.write(b'Loading references...done.\n\xff\n')
        self.assertEqual(component.log_since(start, self.path),
                         'Loading references...done.\n\ufffd\n')
        self.assertEqual(component.log_since(component.log_size(self.path),
                                             self.path), '')
        self.write(b'new\n', 'wb')
        self.assertEqual(component.log_since(start, self.path), 'new\n')

    def test_missing_log(self):
        missing = self.path + '.missing'
        self.assertEqual(component.log_size(missing), 0)
        self.assertEqual(component.log_since(0, missing), '')


if __name__ == '__main__':
    unittest.main()
