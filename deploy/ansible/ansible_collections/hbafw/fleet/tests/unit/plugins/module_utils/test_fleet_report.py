# Unit tests of the fleet report's plain functions: each server's outcome from
# its records, the rows of cases the rollout test does not reach, and that the
# HTML page keeps hostile text inert; and the run's report folder, which
# adds up across calls and removes nothing.

import collections
import os
import shutil
import tempfile
import unittest

from ansible_collections.hbafw.fleet.plugins.module_utils import (
    fleet_page, fleet_rows, outcomes, report_folder)

ITEM = {'type': 'Multiboot Image', 'version': '3.10',
        'active_version': '2.02', 'action': 'upgrade'}
CURRENT_ITEM = dict(ITEM, active_version='3.10', action='rewrite')
FOUND = {'adapters': [{'device_id': 'a', 'product_id': 'p',
                       'items': [ITEM, CURRENT_ITEM]}]}

# A row of test_run_folder_adds_up_and_removes_nothing: one call's run,
# hosts, records and further arguments; the error that refuses it, else the
# servers the run's report holds so far, its retry list and whether the run
# ended with the call.
Call = collections.namedtuple('Call', (
    'run', 'hosts', 'records', 'more', 'refused', 'servers', 'retry',
    'finished'), defaults=({}, {}, None, (), [], False))

# A row of test_server_outcomes: a server's records; its outcome and exit
# code.
Seen = collections.namedtuple('Seen', ('record', 'outcome', 'exit_code'),
                              defaults=(None,))


class OutcomeTest(unittest.TestCase):
    def test_server_outcomes(self):
        ok = {'exit_code': 1, 'changed': True}
        rows = [
            Seen({}, outcomes.NOT_REACHED),
            Seen({'discovery': {'failed': True, 'exit_code': 7, 'msg': 'm'}},
                 outcomes.FAILED, 7),
            Seen({'discovery': FOUND}, outcomes.SKIPPED),
            Seen({'discovery': FOUND, 'update': ok}, outcomes.UPDATED, 1),
            Seen({'discovery': FOUND, 'update': ok, 'check_mode': True},
                 outcomes.WOULD_UPDATE, 1),
            Seen({'discovery': FOUND, 'update': {'exit_code': 3}},
                 outcomes.CURRENT, 3),
            Seen({'discovery': FOUND,
                  'update': {'exit_code': 7, 'failed': True, 'changed': True}},
                 outcomes.FAILED, 7),
            Seen({'bundle': {'failed': True, 'msg': 'bundle corrupt: x'}},
                 outcomes.BUNDLE_CORRUPT),
            Seen({'bundle': {'failed': True, 'msg': 'bundle: [Errno 28]'}},
                 outcomes.FAILED),
            Seen({'bundle': {'failed': True, 'outcome': outcomes.UNREACHABLE,
                             'msg': 'contact lost'}},
                 outcomes.UNREACHABLE),
            Seen({'discovery': {'unreachable': True, 'msg': 'timed out'}},
                 outcomes.UNREACHABLE),
            Seen({'discovery': FOUND,
                  'update': {'failed': True,
                             'outcome': outcomes.UNREACHABLE}},
                 outcomes.UNREACHABLE),
            Seen({'discovery': dict(FOUND, outcome=outcomes.NO_ADAPTER)},
                 outcomes.NO_ADAPTER),
            Seen({'discovery': dict(FOUND, outcome=outcomes.PENDING)},
                 outcomes.SKIPPED),
            Seen({'discovery': FOUND,
                  'update': dict(ok, reboot_required=True)},
                 outcomes.UPDATED_REBOOT, 1),
            Seen({'discovery': FOUND,
                  'update': dict(ok, outcome=outcomes.STILL_FLASHING)},
                 outcomes.STILL_FLASHING, 1),
            Seen({'discovery': FOUND, 'update': {'exit_code': 3,
                                                 'reboot_required': True}},
                 outcomes.CURRENT_REBOOT, 3),
            # Another run removed the digest folder before the update.
            Seen({'discovery': FOUND,
                  'update': {'failed': True, 'outcome': outcomes.BUSY,
                             'msg': 'bundle folder /b is gone when the '
                             'update starts'}},
                 outcomes.BUSY),
            # The words that need a person read the same from the
            # discovery as from hbafw_info; newer firmware is no failure.
            Seen({'discovery': dict(FOUND, failed=True, exit_code=3,
                                    outcome=outcomes.VERSION_UNREADABLE)},
                 outcomes.VERSION_UNREADABLE, 3),
            Seen({'discovery': dict(FOUND, outcome=outcomes.NEWER)},
                 outcomes.NEWER),
            Seen({'inventory': {'compliance': outcomes.NOT_LISTED}},
                 outcomes.NOT_LISTED),
            # read only, by hbafw_info
            Seen({'inventory': {'compliance': outcomes.UPDATE_AVAILABLE}},
                 outcomes.UPDATE_AVAILABLE),
            Seen({'inventory': {'compliance': None, 'adapters': [{}]}},
                 outcomes.NOT_COMPARED),
            Seen({'inventory': {'compliance': outcomes.BUSY,
                                'msg': 'another firmware update is running'}},
                 outcomes.BUSY),
            Seen({'inventory': {'unreachable': True, 'msg': 'timed out'}},
                 outcomes.UNREACHABLE),
            Seen({'inventory': {'failed': True, 'msg': 'exited 4'}},
                 outcomes.FAILED),
        ]
        for record, outcome, code in rows:
            with self.subTest(record=record):
                self.assertEqual(fleet_rows.server_outcome(record)[:2],
                                 (outcome, code))
        # Each outcome gets its bar on the page, whatever its word.
        names = [str(number) for number in range(len(rows))]
        report = fleet_rows.build_report(names, dict(
            (name, row.record) for name, row in zip(names, rows)))
        self.assertEqual(fleet_page.render_html(report).count('class="bar"'),
                         len(set(row.outcome for row in rows)))
        # Until the run ends, a server whose batch has not run is not said
        # to be skipped for good.
        self.assertEqual(fleet_rows.server_outcome({'discovery': FOUND},
                                                   False),
                         (outcomes.SKIPPED, None, fleet_rows.NOT_YET))

    def test_an_inventory_lists_what_runs_and_what_is_due(self):
        item = {'device_id': 'a', 'product': 'p', 'type': 'Multiboot Image',
                'active_version': '2.02', 'package_version': '3.10',
                'action': 'upgrade'}
        adapter = {'pci': {'id': '1077:2532'}, 'model': 'QLE2562',
                   'firmware_version': '8.07.00'}
        # what hbafw_info found: (device, before, package, action, after)
        rows = [({'compliance': outcomes.UPDATE_AVAILABLE, 'items': [item],
                  'adapters': [adapter]},
                 [('a', '2.02', '3.10', 'upgrade', '2.02')]),
                ({'compliance': None, 'items': [], 'adapters': [adapter]},
                 [('1077:2532', '8.07.00', '', '', '8.07.00')])]
        for found, expected in rows:
            with self.subTest(found=found):
                report = fleet_rows.build_report(
                    ['s'], {'s': {'inventory': found}}, {'id': 'r'})
                self.assertEqual([(row['device_id'], row['active_before'],
                                   row['package_version'], row['action'],
                                   row['active_after'])
                                  for row in report['rows']], expected)
                versions = fleet_rows.merge_fleet({}, report, 'now')[
                    'servers']['s']['versions']
                self.assertEqual([entry['active'] for entry in versions],
                                 [row[4] for row in expected])

    def test_the_batch_that_stops_the_rollout(self):
        report = fleet_rows.build_report(['ok', 'bad', 'going'], {
            'ok': {'discovery': FOUND, 'update': {'exit_code': 1}},
            'bad': {'discovery': FOUND, 'update': {'failed': True}},
            'going': {'discovery': FOUND, 'update': {
                'outcome': outcomes.STILL_FLASHING}}})
        # batch, threshold: whether the rollout stops after it
        for batch, threshold, stops in [
                ([], 0, False), (['ok'], 0, False), (['bad'], 100, True),
                (['ok', 'bad'], 0, True), (['ok', 'bad'], 50, False),
                (['ok', 'going'], 100, True)]:
            self.assertEqual(fleet_rows.stops_after(report, batch,
                                                    threshold), stops)


class HtmlTest(unittest.TestCase):
    def test_hostile_text_is_escaped_and_figures_add_up(self):
        hostile = '</pre><script>alert(1)</script><img src=http://x/>'
        records = {'s&1': {'discovery': FOUND, 'update': {
            'exit_code': 12, 'failed': True, 'msg': hostile,
            'log': hostile}}}
        report = fleet_rows.build_report(['s&1', 'gone'], records)
        page = fleet_page.render_html(report)
        self.assertEqual(page.count('<script'), 1)
        self.assertNotIn('<script>alert', page)
        self.assertNotIn('<img', page)
        self.assertIn('s&amp;1', page)
        self.assertIn('<dd id="summary-failed">1</dd>', page)
        self.assertIn('<dd id="summary-not-reached">1</dd>', page)
        self.assertEqual(page.count('class="bar"'), 2)
        self.assertEqual(fleet_rows.render_csv(report).count('\n'), 4)


class FilesTest(unittest.TestCase):
    def test_csv_cells_are_never_formulas(self):
        rows = [('=HYPERLINK("x")', "'=HYPERLINK(\"x\")"), ('+1', "'+1"),
                ('-2', "'-2"), ('@SUM(A1)', "'@SUM(A1)"), ('\tx', "'\tx"),
                ('\rx', "'\rx"), ('a=b', 'a=b'), (12, '12'), ('', '')]
        for value, cell in rows:
            with self.subTest(value=value):
                self.assertEqual(fleet_rows.csv_cell(value), cell)
        report = fleet_rows.build_report(['=s'], {'=s': {
            'discovery': FOUND, 'update': {'failed': True, 'msg': '@x'}}})
        self.assertIn("'=s,a,p", fleet_rows.render_csv(report))
        self.assertIn('"message": "@x"', fleet_rows.render_json(report))

    def test_retry_list_and_fleet_state_across_runs(self):
        update = {'changed': True, 'exit_code': 1, 'adapters_after': [dict(
            FOUND['adapters'][0], items=[CURRENT_ITEM, CURRENT_ITEM])]}
        first = fleet_rows.build_report(['a', 'b'], {
            'a': {'discovery': FOUND, 'update': {'failed': True}},
            'b': {'discovery': FOUND, 'update': update}}, {'id': 'r1'})
        self.assertEqual(fleet_rows.retry_hosts(first), ['a'])
        fleet = fleet_rows.merge_fleet({}, first, 'monday')
        second = fleet_rows.build_report(
            ['a'], {'a': {'discovery': {'unreachable': True}}}, {'id': 'r2'})
        fleet = fleet_rows.merge_fleet(fleet, second, 'tuesday')['servers']
        self.assertEqual(
            [(name, known['outcome'], known['run'], known['last_seen'],
              [entry['active'] for entry in known['versions']])
             for name, known in sorted(fleet.items())],
            [('a', outcomes.UNREACHABLE, 'r2', 'monday', ['', '']),
             ('b', outcomes.UPDATED, 'r1', 'monday', ['3.10', '3.10'])])

    def test_run_folder_adds_up_and_removes_nothing(self):
        dest = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, dest)
        with open(os.path.join(dest, 'hosts'), 'w') as handle:
            handle.write('operator file')
        run, alive = {'id': 'r1', 'check_mode': False}, {'pid': os.getpid()}
        current = {'discovery': dict(FOUND, outcome=outcomes.CURRENT)}
        rows = [
            Call({'id': ''}, ['a'], refused=ValueError),
            Call({'id': '../up'}, ['a'], refused=ValueError),
            Call({'id': '.hidden'}, ['a'], refused=ValueError),
            Call(run, ['a', 'b'], {'a': {'discovery': FOUND}}, alive,
                 servers=['a', 'b'], retry=['b', 'a']),
            # A second rollout into the folder, while the first one runs.
            Call({'id': 'r2'}, ['a'], more=alive,
                 refused=report_folder.RolloutRunning),
            Call(run, ['b'], {'b': current}, dict(alive, batch=['b']),
                 servers=['a', 'b'], retry=['a']),
            Call(run, ['a'], {'a': current}, dict(alive, final=True),
                 servers=['a', 'b'], finished=True),
            Call({'id': 'r2'}, ['c'], more=dict(alive, final=True),
                 servers=['c'], retry=['c'], finished=True),
        ]
        for row in rows:
            with self.subTest(run=row.run, hosts=row.hosts):
                try:
                    result = report_folder.write_run(
                        dest, row.run, row.hosts, row.records, **row.more)
                except (ValueError, report_folder.RolloutRunning) as error:
                    self.assertIsInstance(error, row.refused)
                    continue
                self.assertIsNone(row.refused)
                with open(os.path.join(dest, 'latest', 'retry.txt')) as f:
                    retry = f.read().split()
                self.assertEqual((result['summary']['servers'], retry,
                                  result['finished'],
                                  os.path.exists(dest + '/rollout.lock')),
                                 (len(row.servers), row.retry, row.finished,
                                  not row.finished))
        self.assertEqual(sorted(os.listdir(dest)),
                         ['fleet.html', 'fleet.json', 'hosts', 'latest',
                          'r1', 'r2'])
        os.remove(os.path.join(dest, 'latest'))
        os.mkdir(os.path.join(dest, 'latest'))
        with self.assertRaisesRegex(OSError, 'latest is not a link'):
            report_folder.write_run(dest, run, ['a'], {})
        self.assertEqual(os.listdir(os.path.join(dest, 'latest')), [])

    def test_the_command_that_goes_on_takes_the_retry_list(self):
        argv = ['/usr/bin/ansible-playbook', '-i', 'my inv', '-l', 'srv*',
                'hbafw.fleet.rollout', '--limit=x', '-lsrv1', '--check']
        self.assertEqual(report_folder.resume_command(argv, '/r/retry.txt'),
                         "ansible-playbook -i 'my inv' hbafw.fleet.rollout "
                         "--check --limit @/r/retry.txt")

    def test_a_rehearsal_offers_no_command(self):
        run = {'id': 'r1', 'rehearsal': True}
        report = fleet_rows.build_report(
            ['srv1', 'srv2'], {'srv1': {'discovery': dict(
                FOUND, failed=True, outcome=outcomes.NOT_LISTED)},
                'srv2': {'discovery': dict(FOUND, outcome=outcomes.NEWER)}},
            dict(run, finished=True))
        retry = fleet_rows.retry_hosts(report)
        self.assertEqual(retry, ['srv1'])
        argv = ['ansible-playbook', 'hbafw.fleet.rollout', '-e',
                'hbafw_rehearsal=true']
        closing = report_folder.closing(report, retry, '/r/retry.txt', argv)
        self.assertEqual(closing, report_folder.REHEARSED % (
            'r1', 1, 2, 'adapters not listed 1'))
        self.assertNotIn('ansible-playbook', closing)


if __name__ == '__main__':
    unittest.main()
