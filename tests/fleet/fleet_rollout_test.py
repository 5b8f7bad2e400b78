# The fleet rollout end to end: the collection built and installed offline
# from its tarball, the playbook hbafw.fleet.rollout run over real SSH against
# four simulated servers (check mode, a rollout a failure stops, a second
# rollout), the fleet report checked row by row and its HTML page rendered by
# headless Chromium. Exits 77 (skipped) only when the sandbox cannot run here.
# Usage: fleet_rollout_test.py REPO BUILD_DIR

import csv
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import simfleet

REPO, BUILD = sys.argv[1], sys.argv[2]
COLLECTION = os.path.join(REPO, 'deploy', 'ansible', 'ansible_collections',
                          'hbafw', 'fleet')
KINDS = ['pending', 'current', 'failing', 'pending']
# Two in the first batch; the failing server alone in the second, which stops
# the rollout before the third.
BATCHES = '{"hbafw_serial": [2, 1, 1], "hbafw_poll": 1}'
QLE2562, QLE2672 = '1077.2532.1077.015d', '1077.2031.1077.0170'
# Host paths the rollout must leave as they are, and paths that exist only
# inside the simulated servers' sandboxes.
HOST_TREES = ['/root/.ansible', '/root/.ssh', '/opt', '/var/vkx']
HOST_ABSENT = [simfleet.REMOTE_BUNDLE, simfleet.REMOTE_TMP,
               simfleet.ASYNC_DIR, '/run/sshd']
CHROMIUM = ['/usr/bin/chromium', '--headless', '--no-sandbox',
            '--disable-gpu', '--disable-quic', '--no-first-run',
            '--disable-background-networking', '--disable-component-update',
            '--disable-sync', '--allow-file-access-from-files',
            '--virtual-time-budget=10000']
# Loads the report at a laptop's width and copies what the browser rendered
# (summary figures, chart bars, widths) into this page's DOM.
PROBE = '''<!DOCTYPE html><html><body>
<iframe id="page" src="file://%s" style="width:800px;height:600px"></iframe>
<pre id="out"></pre><script>
document.getElementById('page').onload = function () {
  var doc = this.contentDocument, seen = {};
  doc.querySelectorAll('#summary dd').forEach(function (dd) {
    seen[dd.id] = dd.textContent; });
  seen.bars = doc.querySelectorAll('svg rect.bar').length;
  seen.scrollWidth = doc.documentElement.scrollWidth;
  seen.clientWidth = doc.documentElement.clientWidth;
  document.getElementById('out').textContent = JSON.stringify(seen);
};
</script></body></html>
'''


def expected_rows(name, before, action, after, outcome, code, other=None):
    """A server's two expected rows: its QLE2562, then its QLE2672 at 3.28."""
    return [(name, QLE2562, before, action, after, outcome, code),
            (name, QLE2672, '3.28', 'rewrite', '3.28', other or outcome,
             code)]


def snapshot(top):
    found = {}
    for root, dirs, files in os.walk(top):
        for name in dirs + files:
            path = os.path.join(root, name)
            try:
                info = os.lstat(path)
            except OSError:
                continue
            found[path] = (info.st_size, info.st_mtime_ns)
    return found


class FleetRolloutTest(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.before = dict((top, snapshot(top)) for top in HOST_TREES)
        cls.fleet = simfleet.Fleet(REPO, BUILD, KINDS)
        try:
            cls.fleet.__enter__()
        except simfleet.SandboxExit as error:
            cls.fleet.remove()
            if error.code == 77:
                print('skipped: %s' % error)
                sys.exit(77)
            raise
        cls.collections = cls.fleet.path('collections')
        # The report folder already holds an operator's files; no run may
        # touch them.
        cls.reports = cls.fleet.path('reports')
        os.makedirs(os.path.join(cls.reports, 'hosts'))
        for name in ('inventory.ini', 'hosts/notes.txt'):
            with open(os.path.join(cls.reports, name), 'w') as handle:
                handle.write('[hbafw]\n')
        cls.operator_files = snapshot(cls.reports)
        env = cls.fleet.environment(cls.collections)
        subprocess.run(['ansible-galaxy', 'collection', 'build', COLLECTION,
                        '--output-path', cls.fleet.dir], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        tarball, = glob.glob(cls.fleet.path('hbafw-fleet-*.tar.gz'))
        subprocess.run(['ansible-galaxy', 'collection', 'install',
                        '--offline', '-p', cls.collections, tarball],
                       env=env, check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.fleet.stop()
        cls.fleet.remove()

    def rollout(self, *args):
        """One rollout into the shared report folder: (exit code, output,
        the run's report folder, its CSV rows)."""
        code, out = self.fleet.playbook(
            self.collections, '-e', BATCHES,
            '-e', 'hbafw_report_dir=' + self.reports, *args)
        report = os.path.realpath(os.path.join(self.reports, 'latest'))
        with open(os.path.join(report, 'report.csv')) as handle:
            rows = list(csv.DictReader(handle))
        return code, out, report, rows

    def calls(self, server):
        path = os.path.join(self.fleet.machine(server), 'sim', 'qlafwupdate',
                            'calls')
        if not os.path.exists(path):
            return []
        with open(path) as handle:
            return handle.read().splitlines()

    def assertRows(self, rows, expected):
        columns = ('server', 'device_id', 'active_before', 'action',
                   'active_after', 'outcome', 'exit_code')
        self.assertEqual([tuple(row[c] for c in columns) for row in rows],
                         expected)

    def render(self, html):
        probe = self.fleet.path('probe.html')
        with open(probe, 'w') as handle:
            handle.write(PROBE % html)
        profile = tempfile.mkdtemp(dir=self.fleet.dir)
        done = subprocess.run(
            CHROMIUM + ['--user-data-dir=' + profile, '--dump-dom',
                        'file://' + probe], stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, text=True, timeout=120)
        shutil.rmtree(profile, ignore_errors=True)
        start = done.stdout.index('<pre id="out">') + len('<pre id="out">')
        return json.loads(done.stdout[start:done.stdout.index('</pre>')])

    def test_rollout(self):
        code, out, _, rows = self.rollout('--check', '--diff')
        self.assertEqual(code, 0, out)
        for server in self.fleet.names:
            self.assertEqual(self.calls(server), [], server)
        self.assertIn('-%s Multiboot Image: 2.02\n+%s Multiboot Image: 3.10'
                      % (QLE2562, QLE2562), out)
        current = 'already current'
        self.assertRows(rows, sum([
            expected_rows('srv01', '2.02', 'upgrade', '2.02', 'would update',
                          '3', current),
            expected_rows('srv02', '3.10', 'rewrite', '3.10', current, '3'),
            expected_rows('srv03', '2.02', 'upgrade', '2.02', 'would update',
                          '3', current),
            expected_rows('srv04', '2.02', 'upgrade', '2.02', 'would update',
                          '3', current)], []))

        code, out, report, rows = self.rollout()
        self.assertEqual(code, 2, out)
        self.assertEqual([self.calls(s) for s in self.fleet.names],
                         [['/s'], [], ['/s'], []])
        # Failed servers first.
        self.assertRows(rows, sum([
            expected_rows('srv03', '2.02', 'upgrade', '2.02', 'failed', '12'),
            expected_rows('srv01', '2.02', 'upgrade', '3.10', 'updated', '1',
                          current),
            expected_rows('srv02', '3.10', 'rewrite', '3.10', current, '3'),
            expected_rows('srv04', '2.02', 'upgrade', '2.02', 'skipped',
                          '')], []))
        self.assertIn('exit code 12', rows[0]['message'])
        with open(os.path.join(report, 'retry.txt')) as handle:
            self.assertEqual(handle.read(), 'srv03\n')
        for server, flash_line in (('srv01', 'Flash complete [1]\n'),
                                   ('srv03', 'Flash complete [12]\n')):
            texts = []
            for kind in ('discovery', 'update'):
                with open(os.path.join(report, 'logs', '%s.%s.log'
                                       % (server, kind))) as handle:
                    texts.append(handle.read())
            with open(os.path.join(self.fleet.machine(server), 'var', 'vkx',
                                   'Component.log')) as handle:
                log = handle.read()
            # This rollout's two runs are the log's last text, in order.
            self.assertTrue(log.endswith(''.join(texts)), server)
            self.assertIn(flash_line, texts[1])
            self.assertIn('qlafwupdate: engine trace (fd 3)\n', texts[1])
        self.assertFalse(os.path.exists(os.path.join(
            report, 'logs', 'srv04.update.log')))

        seen = self.render(os.path.join(report, 'report.html'))
        self.assertEqual(
            {key: seen.get('summary-' + key) for key in (
                'servers', 'adapters', 'updated', 'already-current',
                'failed', 'skipped', 'would-update')},
            {'servers': '4', 'adapters': '8', 'updated': '1',
             'already-current': '1', 'failed': '1', 'skipped': '1',
             'would-update': '0'})
        self.assertEqual(seen['bars'], 4)
        self.assertLessEqual(seen['scrollWidth'], seen['clientWidth'])

        code, out, _, rows = self.rollout('--limit', 'srv01,srv02')
        self.assertEqual(code, 0, out)
        self.assertEqual(self.calls('srv01'), ['/s'])
        self.assertRows(rows, sum([
            expected_rows('srv01', '3.10', 'rewrite', '3.10', current, '3'),
            expected_rows('srv02', '3.10', 'rewrite', '3.10', current,
                          '3')], []))

        self.fleet.stop()
        for top in HOST_TREES:
            self.assertEqual(snapshot(top), self.before[top], top)
        for path in HOST_ABSENT:
            self.assertFalse(os.path.exists(path), path)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1])
