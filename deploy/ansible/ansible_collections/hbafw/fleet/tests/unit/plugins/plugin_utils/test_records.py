# The rollout's records decided on the controller: a lost server's record,
# the update's record after a restart, the servers the update batches take,
# and the one line of a server that needs a person.

import collections
import unittest

from ansible_collections.hbafw.fleet.plugins.plugin_utils.records import (
    after_restart, eligible, failures, kept_records, needs_probe, record,
    restart_due)

FLASHED = dict(changed=True, exit_code=1, adapters=['before'], pending=['p'],
               stdout='flash out', log='flash log\n', reboot_required=True,
               outcome='updated, reboot required', msg='flashed')
CHECKED = dict(changed=False, exit_code=3, adapters=['after'], pending=[],
               stdout='', log='check log\n', reboot_required=False,
               outcome='updated', msg='verified')
Lost = collections.namedtuple('Lost', 'name result step outcome msg')
Batch = collections.namedtuple('Batch', 'name records check_mode batched')
Batch.__new__.__defaults__ = (False, True)


class RecordsTest(unittest.TestCase):
    def test_a_lost_server_is_unreachable_at_its_step(self):
        rows = [
            Lost('answers', dict(msg='boom', failed=True), 'update', None,
                 'boom'),
            Lost('lost at discovery', dict(unreachable=True, msg='ssh: gone'),
                 'discovery', 'unreachable',
                 'contact lost at "discovery": ssh: gone'),
            Lost('lost at update', dict(unreachable=True, msg='reset'),
                 'update', 'unreachable', 'contact lost at "update": reset; '
                 'the flash may have run there'),
            Lost('lost after the restart', dict(unreachable=True), 'restart',
                 'unreachable', 'contact lost at "restart": ; flashed and '
                 'verified; activation unconfirmed'),
        ]
        for row in rows:
            kept = record(row.result, row.step)
            self.assertEqual((kept.get('outcome'), kept['msg'],
                              'unreachable' in kept,
                              kept.get('failed', False)),
                             (row.outcome, row.msg, False,
                              row.outcome is not None
                              or row.result.get('failed', False)), row.name)

    def test_only_a_failure_without_the_module_s_verdict_is_probed(self):
        rows = [(dict(failed=True, msg='MODULE FAILURE'), True),
                (dict(failed=True, outcome='busy'), False),
                (dict(failed=True, update_due=False), False),
                (dict(changed=True), False)]
        for result, probed in rows:
            self.assertEqual(needs_probe(result), probed, result)

    def test_the_restart_keeps_the_flash_and_adds_the_check(self):
        merged = after_restart(FLASHED, dict(changed=True), CHECKED)
        self.assertEqual(merged, dict(
            CHECKED, changed=True, exit_code=1, adapters=['before'],
            pending=['p'], stdout='flash out', adapters_after=['after'],
            log='flash log\ncheck log\n'))
        lost = dict(FLASHED, failed=True, outcome='unreachable',
                    step='restart', msg='contact lost at "restart": timed '
                    'out; flashed and verified; activation unconfirmed')
        for restart in (dict(failed=True, msg='timed out'),
                        dict(unreachable=True, msg='timed out')):
            self.assertEqual(after_restart(FLASHED, restart), lost, restart)
        # A check that loses the server keeps what the update flashed.
        gone = after_restart(FLASHED, {}, dict(unreachable=True, msg='x'))
        self.assertEqual(
            (gone['outcome'], gone['adapters'], gone['step']),
            ('unreachable', ['before'], 'check after the restart'))
        # A check that could not run (no bundle, a tool failed) needs a
        # person and a re-run; one that ran and saw other versions stays so.
        for checked, outcome in (
                (dict(failed=True, msg='bundle: 404'),
                 'restart check not run'),
                (dict(CHECKED, failed=True, outcome='failed'),
                 'restart check not run'),
                (dict(CHECKED, failed=True, outcome='failed: not verified'),
                 'failed: not verified')):
            merged = after_restart(FLASHED, {}, checked)
            self.assertEqual((merged['outcome'], merged['reboot_required']),
                             (outcome, outcome != 'restart check not run'
                              and checked['reboot_required']), checked)

    def test_the_batches_take_what_to_flash_or_to_restart(self):
        waits = dict(reboot_required=True)
        rows = [
            Batch('to flash', dict(discovery=dict(update_due=True))),
            Batch('current', dict(discovery=dict(update_due=False)),
                  batched=False),
            Batch('waits, never restarted', dict(discovery=waits),
                  batched=False),
            Batch('waits, restarts if required',
                  dict(discovery=waits, reboot='if_required')),
            Batch('waits, in a check', dict(discovery=waits, reboot='always'),
                  check_mode=True, batched=False),
            Batch('waits, discovery failed', dict(discovery=dict(
                waits, failed=True), reboot='always'), batched=False),
            Batch('waits, still flashing', dict(discovery=dict(
                waits, still_flashing=True), reboot='always'), batched=False),
            Batch('never discovered', {}, batched=False),
        ]
        hosts = [row.name for row in rows]
        for check_mode in (False, True):
            self.assertEqual(
                eligible(hosts, dict((row.name, row.records) for row in rows
                                     if row.check_mode == check_mode),
                         check_mode),
                [row.name for row in rows
                 if row.batched and row.check_mode == check_mode],
                check_mode)

    def test_a_restart_follows_only_what_the_policy_asks(self):
        waits = dict(reboot_required=True)
        rows = [(waits, 'if_required', False, True),
                (dict(reboot_required=False), 'if_required', False, False),
                (dict(reboot_required=False), 'always', False, True),
                (waits, 'never', False, False),
                (waits, 'always', True, False),
                (dict(waits, server_failed=True), 'always', False, False),
                (dict(waits, still_flashing=True), 'always', False, False)]
        for result, policy, check_mode, due in rows:
            self.assertEqual(restart_due(result, policy, check_mode), due,
                             (result, policy, check_mode))

    def test_a_discovery_starts_the_records_afresh(self):
        # A fact cache may hold an earlier run's update: never this run's.
        earlier = dict(discovery=CHECKED, update=FLASHED, force=True)
        found = dict(CHECKED, failed=False, server_failed=True,
                     ansible_facts=dict(hbafw_records=earlier),
                     _ansible_no_log=False)
        kept = kept_records(earlier, 'discovery', found, False, 'never')
        self.assertEqual(sorted(kept), ['discovery', 'force', 'reboot'])
        self.assertEqual(kept['discovery'], dict(
            CHECKED, failed=True, server_failed=True))
        kept = kept_records(kept, 'update', FLASHED, False, 'always')
        self.assertEqual((kept['discovery']['failed'], kept['update'],
                          kept['reboot']),
                         (True, dict(FLASHED, failed=False), 'always'))

    def test_a_server_that_needs_a_person_gets_one_line(self):
        servers = [
            dict(server='srv1', outcome='failed', message='exit code 12\n'
                 'failure', logs=['srv1.discovery.log', 'srv1.report.xml',
                                  'srv1.update.log']),
            dict(server='srv2', outcome='busy', message='another update',
                 logs=['srv2.discovery.log']),
            dict(server='srv3', outcome='unreachable', message='', logs=[]),
            dict(server='srv4', outcome='updated', message='', logs=[]),
            dict(server='srv5', outcome='skipped', message='', logs=[]),
        ]
        self.assertEqual(failures(servers, '/r/1'), {
            'srv1': 'failed: exit code 12 failure (log: '
                    '/r/1/logs/srv1.update.log)',
            'srv2': 'busy: another update (log: /r/1/logs/srv2.discovery.log)',
            'srv3': 'unreachable: no message (log: none)'})


if __name__ == '__main__':
    unittest.main()
