# The fleet rollout end to end: the collection built and installed offline
# from its tarball, the playbook hbafw.fleet.rollout run over real SSH against
# simulated servers of every kind (check mode; a rollout the failed and the
# lost servers of one batch stop; one a flash outlasting its wait stops; a
# second rollout that picks that flash up and changes nothing), the fleet
# report checked row by row and its HTML page rendered by headless Chromium.
# Exits 77 (skipped) only when the sandbox cannot run here.
# Usage: fleet_rollout_test.py REPO BUILD_DIR

import csv
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import simfleet

REPO, BUILD = sys.argv[1], sys.argv[2]
COLLECTION = os.path.join(REPO, 'deploy', 'ansible', 'ansible_collections',
                          'hbafw', 'fleet')
KINDS = ['reboot', 'current', 'none', 'pending', 'unreachable', 'slow',
         'failing']
# The servers with something to flash, in batches of one (the canary), two
# and two: the lost server of the second batch stops the rollout.
BATCHES = '{"hbafw_serial": [1, 2, 2], "hbafw_poll": 1}'
QLE2562, QLE2672 = '1077.2532.1077.015d', '1077.2031.1077.0170'
# Host paths the rollout must leave as they are, and paths that exist only
# inside the simulated servers' sandboxes.
HOST_TREES = ['/opt', '/var/vkx']
HOST_ABSENT = [simfleet.REMOTE_BUNDLE, simfleet.REMOTE_TMP,
               simfleet.ASYNC_DIR, simfleet.STATE_DIR]
RECAP = re.compile(r'^(srv\d+)\s+: ok=\d+\s+changed=(\d+)', re.M)
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


def no_adapter_row(name):
    return [(name, '', '', '', '', 'no adapter', '')]


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
        cls.fleet.configure(forks=len(KINDS))
        cls.collections = cls.fleet.path('collections')
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

    def rollout(self, name, *args):
        report = self.fleet.path(name)
        code, out = self.fleet.playbook(
            self.collections, '-e', BATCHES,
            '-e', 'hbafw_report_dir=' + report, *args)
        with open(os.path.join(report, 'report.csv')) as handle:
            rows = list(csv.DictReader(handle))
        return code, out, report, rows

    def machine_file(self, server, *path):
        return os.path.join(self.fleet.machine(server), *path)

    def lines(self, server, *path):
        path = self.machine_file(server, *path)
        if not os.path.exists(path):
            return []
        with open(path) as handle:
            return handle.read().splitlines()

    def calls(self, server):
        return self.lines(server, 'sim', 'qlafwupdate', 'calls')

    def release(self, server):
        """Lets a "slow" flash end, and waits until its run has logged it."""
        open(self.machine_file(server, 'sim', 'qlafwupdate', 'release'),
             'w').close()
        deadline = time.monotonic() + 60
        while 'Flash complete [1]' not in self.lines(
                server, 'var', 'vkx', 'Component.log'):
            self.assertLess(time.monotonic(), deadline, server)
            time.sleep(0.1)

    def when_flash_starts(self, server, act):
        """Runs act in the background as soon as server's flash starts."""
        def watch():
            deadline = time.monotonic() + 300
            while not self.calls(server) and time.monotonic() < deadline:
                time.sleep(0.05)
            act()
        thread = threading.Thread(target=watch, daemon=True)
        thread.start()
        return thread

    def assertRows(self, rows, expected):
        columns = ('server', 'device_id', 'active_before', 'action',
                   'active_after', 'outcome', 'exit_code')
        self.assertEqual([tuple(row[c] for c in columns) for row in rows],
                         sum(expected, []))

    def assertChanged(self, out, servers):
        self.assertEqual(dict((name, int(count)) for name, count in
                              RECAP.findall(out)),
                         dict((name, int(name in servers))
                              for name in self.fleet.names), out)

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

    def assertLogTail(self, report, server, flash_line):
        """The rollout's runs on server are its log's last text, in order."""
        texts = []
        for kind in ('discovery', 'update'):
            with open(os.path.join(report, 'hosts', '%s.%s.log'
                                   % (server, kind))) as handle:
                texts.append(handle.read())
        with open(self.machine_file(server, 'var', 'vkx',
                                    'Component.log')) as handle:
            self.assertTrue(handle.read().endswith(''.join(texts)), server)
        self.assertIn(flash_line, texts[1])
        self.assertIn('qlafwupdate: engine trace (fd 3)\n', texts[1])

    def test_rollout(self):
        current, pending = 'already current', ['srv01', 'srv04', 'srv05',
                                               'srv06', 'srv07']
        code, out, _, rows = self.rollout('check', '--check', '--diff')
        self.assertEqual(code, 0, out)
        for server in self.fleet.names:
            self.assertEqual(self.calls(server), [], server)
        self.assertIn('-%s Multiboot Image: 2.02\n+%s Multiboot Image: 3.10'
                      % (QLE2562, QLE2562), out)
        self.assertChanged(out, pending)
        would = ('2.02', 'upgrade', '2.02', 'would update', '3', current)
        self.assertRows(rows, [
            expected_rows('srv01', *would),
            expected_rows('srv02', '3.10', 'rewrite', '3.10', current, '3'),
            no_adapter_row('srv03')] + [
            expected_rows(server, *would) for server in pending[1:]])

        # srv05 stops answering the moment its flash starts; the flash there
        # ends while nobody watches. That stops the rollout after its batch.
        lost = self.when_flash_starts('srv05', lambda: (
            self.fleet.stop_server('srv05'), self.release('srv05')))
        code, out, report, rows = self.rollout('first')
        lost.join()
        self.assertEqual(code, 2, out)
        self.assertEqual([self.calls(s) for s in self.fleet.names],
                         [['/s'], [], [], ['/s'], ['/s'], [], []])
        first_batch = out.index('Start the update of the server')
        self.assertRegex(out[first_batch:], r'^[^\n]*\n(ok|changed): '
                         r'\[srv01\]')
        self.assertEqual(self.lines('srv01', 'sim', 'power'),
                         ['shutdown -r +0'])
        self.assertEqual(self.lines('srv04', 'sim', 'power'), [])
        self.assertRows(rows, [
            expected_rows('srv01', '2.02', 'upgrade', '3.10', 'updated', '1',
                          current),
            expected_rows('srv02', '3.10', 'rewrite', '3.10', current, '3'),
            no_adapter_row('srv03'),
            expected_rows('srv04', '2.02', 'upgrade', '3.10',
                          'updated, reboot required', '1', current),
            [('srv05', QLE2562, '2.02', 'upgrade', '', 'unreachable', ''),
             ('srv05', QLE2672, '3.28', 'rewrite', '', 'unreachable', '')],
            expected_rows('srv06', '2.02', 'upgrade', '2.02', 'skipped', ''),
            expected_rows('srv07', '2.02', 'upgrade', '2.02', 'skipped', '')])
        self.assertIn('contact lost at "wait for the update"',
                      rows[7]['message'])
        self.assertIn('the flash may have run there', rows[7]['message'])
        self.assertLogTail(report, 'srv01', 'Flash complete [1]\n')

        seen = self.render(os.path.join(report, 'report.html'))
        self.assertEqual(
            {key: seen.get('summary-' + key) for key in (
                'servers', 'adapters', 'updated', 'already-current',
                'no-adapter', 'unreachable', 'skipped', 'would-update')},
            {'servers': '7', 'adapters': '12', 'updated': '1',
             'already-current': '1', 'no-adapter': '1', 'unreachable': '1',
             'skipped': '2', 'would-update': '0'})
        self.assertEqual(seen['bars'], 6)
        self.assertLessEqual(seen['scrollWidth'], seen['clientWidth'])

        # srv06's flash outlasts its wait: the rollout stops before srv07.
        code, out, _, rows = self.rollout('stalled', '--limit', 'srv06,srv07')
        self.assertEqual(code, 2, out)
        self.assertEqual([self.calls('srv06'), self.calls('srv07')],
                         [['/s'], []])
        self.assertRows(rows, [
            [('srv06', QLE2562, '2.02', 'upgrade', '', 'still flashing', ''),
             ('srv06', QLE2672, '3.28', 'rewrite', '', 'still flashing', '')],
            expected_rows('srv07', '2.02', 'upgrade', '2.02', 'skipped', '')])
        self.release('srv06')

        # Nothing is flashed twice: srv06's flash is picked up, srv07 fails
        # as the canary, and nothing changes anywhere.
        code, out, report, rows = self.rollout('again')
        self.assertEqual(code, 2, out)
        self.assertChanged(out, [])
        self.assertEqual([self.calls(s) for s in self.fleet.names],
                         [['/s'], [], [], ['/s'], ['/s'], ['/s'], ['/s']])
        self.assertRows(rows, [
            expected_rows('srv01', '3.10', 'rewrite', '3.10', current, '3'),
            expected_rows('srv02', '3.10', 'rewrite', '3.10', current, '3'),
            no_adapter_row('srv03'),
            expected_rows('srv04', '3.10', 'rewrite', '3.10',
                          'already current, reboot required', '3'),
            [('srv05', '', '', '', '', 'unreachable', '')],
            expected_rows('srv06', '2.02', 'upgrade', '3.10',
                          'updated, reboot required', '1', current),
            expected_rows('srv07', '2.02', 'upgrade', '2.02', 'failed',
                          '12')])
        self.assertIn('contact lost at "copy the bundle"', rows[7]['message'])
        self.assertIn('exit code 12', rows[-1]['message'])
        self.assertLogTail(report, 'srv07', 'Flash complete [12]\n')

        self.fleet.stop()
        for top in HOST_TREES:
            self.assertEqual(snapshot(top), self.before[top], top)
        for path in HOST_ABSENT:
            self.assertFalse(os.path.exists(path), path)
        # Ansible's own temporary files stay in the run's folders, and go.
        for folder in ('ansible-local', 'controller-tmp'):
            self.assertEqual(os.listdir(self.fleet.path(folder)), [], folder)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1])
