# The fleet rollout end to end: the collection built and installed offline
# from its tarball, the playbook hbafw.fleet.rollout run over real SSH against
# simulated servers of every kind (QLogic, Emulex, Brocade): bundles refused
# before any server is touched, or by the server in pull mode (fetched from
# a web server on 127.0.0.1), check mode and a rollout a lost and a frozen
# server stop in pull mode, one a flash outlasting its wait stops, a damaged
# bundle folder, and a last rollout that picks the long flash up and changes
# nothing; three servers captured and the rollout rehearsed on their twins;
# the fleet report checked row by row and
# its HTML page rendered by headless Chromium; a rollout run by
# ansible-runner, as AWX runs it, its artifacts and event stream read.
# Exits 77 (skipped) only when the sandbox cannot run here.
# Usage: fleet_rollout_test.py REPO BUILD_DIR [TEST...]

import collections
import concurrent.futures
import contextlib
import csv
import fcntl
import glob
import hashlib
import io
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import threading
import time
import unittest

import simfleet

REPO, BUILD = sys.argv[1], sys.argv[2]
sys.path.insert(0, os.path.join(REPO, 'deploy', 'ansible'))
from ansible_collections.hbafw.fleet.plugins.module_utils import (  # noqa: E402
    fleet_page, fleet_rows)
COLLECTION = os.path.join(REPO, 'deploy', 'ansible', 'ansible_collections',
                          'hbafw', 'fleet')
KINDS = ['reboot', 'current', 'no-adapter', 'emulex', 'unreachable',
         'stalled', 'slow', 'qlogic+brocade failing']
# The servers with something to flash in batches of one (the canary), three
# and two: the lost servers of the second batch stop the rollout.
BATCHES = '{"hbafw_serial": [1, 3, 2]}'
QLE2562, QLE2672 = '1077.2532.1077.015d', '1077.2031.1077.0170'
# srv04's Emulex adapters before and after its flash.
LPE12002, LPE16002 = '10DF.F100.10DF.F100', '10DF.E200.10DF.E200'
KIT, KIT_FLASHED = ('2.01A1', '11.2.156.27'), ('2.02A1', '12.0.346.48')
# The Brocade 825s beside srv08's QLogic adapters: one needs the catalogue's
# 3.2.0.0, one runs it.
BROCADE_825 = '1657.0013.1657.0014'
CURRENT = 'already current'
KEYS = ['hbafw release <release@hbafw.example.org>',
        'someone else <else@hbafw.example.org>']
# Bundles the controller must refuse before any server is touched: (bundle,
# whether the release keyring is given, what the run says).
REFUSED = [('corrupt', False,
            'bundle corrupt: reference.xml does not match its checksum'),
           ('forged', True, 'bundle signature does not verify'),
           ('unsigned', True, 'bundle not signed')]
# Pull mode: archives a server must refuse, nothing run there: (the archive
# the mirror serves, the bundle whose digest the run gives, whether the
# release keyring is given, what the run says).
ARRIVED = 'bundle corrupt: the archive arrived with digest'
PULL_REFUSED = [('corrupt', 'signed', False, ARRIVED),
                ('signed', 'unsigned', False, ARRIVED),
                ('forged', 'forged', True, 'bundle signature does not verify')]
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
# Loads a report page at a laptop's width, copies what the browser rendered
# (summary figures, chart bars, widths, rows) into this page's DOM, and works
# the page's controls: the rows left by the outcome filter (set to the
# outcome the test names) and the first
# server after sorting by server twice (descending).
PROBE = '''<!DOCTYPE html><html><body>
<iframe id="page" style="width:800px;height:600px"></iframe>
<pre id="out"></pre><script>
var frame = document.getElementById('page'), started = performance.now();
frame.onload = function () {
  var doc = frame.contentDocument, seen = {};
  seen.loadMs = performance.now() - started;
  doc.querySelectorAll('#summary dd').forEach(function (dd) {
    seen[dd.id] = dd.textContent; });
  seen.bars = doc.querySelectorAll('svg rect.bar').length;
  seen.scrollWidth = doc.documentElement.scrollWidth;
  seen.clientWidth = doc.documentElement.clientWidth;
  function shown() {
    return Array.prototype.filter.call(doc.querySelectorAll('#rows tbody tr'),
      function (row) { return !row.hidden; }).length; }
  seen.rows = shown();
  var outcome = doc.getElementById('filter-outcome');
  outcome.value = '%s';
  outcome.dispatchEvent(new Event('change'));
  seen.failedRows = shown();
  outcome.value = '';
  outcome.dispatchEvent(new Event('change'));
  var server = doc.querySelector('#rows th');
  server.click();
  server.click();
  seen.firstServer = doc.querySelector('#rows tbody tr td').textContent;
  document.getElementById('out').textContent = JSON.stringify(seen);
};
frame.src = 'file://%s';
</script></body></html>
'''


def expected_rows(name, before, action, after, outcome, code, other=None):
    """A server's two expected rows: its QLE2562, then its QLE2672 at 3.28."""
    return [(name, QLE2562, before, action, after, outcome, code),
            (name, QLE2672, '3.28', 'rewrite', '3.28', other or outcome,
             code)]


def emulex_rows(name, before, action, after, outcome, code, other=None):
    """srv04's rows: its LPe12002's firmware and its boot code at 5.12A0,
    then its LPe16002's firmware."""
    return [(name, LPE12002, before[0], action, after[0], outcome, code),
            (name, LPE12002, '5.12A0', 'rewrite', '5.12A0', other or outcome,
             code),
            (name, LPE16002, before[1], action, after[1], outcome, code)]


def two_vendor_rows(name, outcome, code):
    """srv08's rows: its QLogic adapters, then its Brocade ones, none of
    them changed; the items that are no upgrade are current in a check.
    Each build sees every adapter twice there, as both of the machine's
    HBA API libraries are the one simulated library that lists them all."""
    other = 'already current' if outcome == 'would update' else outcome
    qlogic = expected_rows(name, '2.02', 'upgrade', '2.02', outcome, code,
                           other)
    brocade = [(name, BROCADE_825, '3.0.3.2', 'upgrade', '3.0.3.2', outcome,
                code),
               (name, BROCADE_825, '3.2.0.0', 'rewrite', '3.2.0.0', other,
                code)]
    return qlogic * 2 + brocade * 2


def lost_rows(name, outcome):
    """A server's rows when what it runs after the flash is not known."""
    return [(name, QLE2562, '2.02', 'upgrade', '', outcome, ''),
            (name, QLE2672, '3.28', 'rewrite', '', outcome, '')]


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

    kinds = KINDS

    @classmethod
    def setUpClass(cls):
        cls.before = dict((top, snapshot(top)) for top in HOST_TREES)
        cls.fleet = simfleet.Fleet(REPO, BUILD, cls.kinds)
        try:
            cls.fleet.__enter__()
        except simfleet.SandboxExit as error:
            cls.fleet.remove()
            if error.code == 77:
                print('skipped: %s' % error)
                sys.exit(77)
            raise
        cls.fleet.configure(forks=len(cls.kinds))
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
        cls.make_bundles(env)

    @classmethod
    def make_bundles(cls, env):
        """The release key's keyring, a bundle it signed, one another key
        signed, and one whose catalogue changed after its checksums."""
        cls.gpg_env = dict(env, GNUPGHOME=cls.fleet.path('gnupg'))
        os.mkdir(cls.gpg_env['GNUPGHOME'], 0o700)
        for key in KEYS:
            subprocess.run(['gpg', '--batch', '--pinentry-mode', 'loopback',
                            '--passphrase', '', '--quick-gen-key', key,
                            'ed25519', 'sign', 'never'], env=cls.gpg_env,
                           check=True, stderr=subprocess.DEVNULL)
        cls.bundles = {'unsigned': cls.fleet.bundle}
        with open(cls.fleet.path('release.gpg'), 'wb') as keyring:
            subprocess.run(['gpg', '--export', KEYS[0]], env=cls.gpg_env,
                           stdout=keyring, check=True)
        for name, key in (('signed', KEYS[0]), ('forged', KEYS[1])):
            os.mkdir(cls.fleet.path(name))
            cls.bundles[name] = cls.fleet.make_bundle(
                cls.fleet.path(name), key, cls.gpg_env)
        cls.bundles['corrupt'] = cls.fleet.path('corrupt.tar.gz')
        with tarfile.open(cls.fleet.bundle) as source, \
                tarfile.open(cls.bundles['corrupt'], 'w:gz') as target:
            for member in source.getmembers():
                data = source.extractfile(member).read()
                if member.name.endswith('/reference.xml'):
                    data = data.replace(b'3.10', b'9.99')
                target.addfile(member, io.BytesIO(data))
        mirror = cls.fleet.path('mirror')
        os.mkdir(mirror)
        for name, path in cls.bundles.items():
            shutil.copy(path, os.path.join(mirror, name + '.tar.gz'))
        cls.mirror = cls.fleet.serve(mirror)

    def pulled(self, served, given):
        """Pull mode's variables: the mirror's archive served, the digest of
        the bundle given."""
        with open(self.bundles[given], 'rb') as handle:
            digest = hashlib.sha256(handle.read()).hexdigest()
        return ['-e', json.dumps({'hbafw_bundle': self.mirror + served
                                  + '.tar.gz', 'hbafw_bundle_sha256': digest})]

    @classmethod
    def tearDownClass(cls):
        subprocess.run(['gpgconf', '--kill', 'all'], env=cls.gpg_env)
        cls.fleet.stop()
        cls.fleet.remove()

    def rollout(self, *args, bundle='signed', keyring=True, exact=False,
                pull=False):
        """One rollout into the shared report folder (exact: with args
        only; pull: the servers fetch the bundle from the mirror): (exit
        code, output, the run's report folder, its CSV rows)."""
        code, out = self.fleet.playbook(self.collections, *args) if exact \
            else self.fleet.playbook(
            self.collections, '-e', BATCHES,
            '-e', 'hbafw_report_dir=' + self.reports,
            '-e', 'hbafw_bundle=' + self.bundles[bundle], '-e',
            'hbafw_bundle_keyring=' + (self.fleet.path('release.gpg')
                                       if keyring else ''),
            *(self.pulled(bundle, bundle) if pull else []), *args)
        report = os.path.realpath(os.path.join(self.reports, 'latest'))
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

    def when_flash_starts(self, server, act, *path):
        """Runs act in the background as soon as server's flash starts (or
        the file at path in its machine appears), if it does before the
        returned event is set."""
        over = threading.Event()
        path = path or ('sim', 'qlafwupdate', 'calls')

        def watch():
            while not self.lines(server, *path):
                if over.wait(0.05):
                    return
            act()
        thread = threading.Thread(target=watch, daemon=True)
        thread.start()
        self.addCleanup(thread.join)
        return over

    def assertRows(self, rows, expected):
        """Rows in server order (the report puts the worst first)."""
        columns = ('server', 'device_id', 'active_before', 'action',
                   'active_after', 'outcome', 'exit_code')
        self.assertEqual(sorted((tuple(row[c] for c in columns)
                                 for row in rows), key=lambda row: row[0]),
                         sum(expected, []))

    def assertChanged(self, out, servers):
        self.assertEqual(dict((name, int(count)) for name, count in
                              RECAP.findall(out)),
                         dict((name, int(name in servers))
                              for name in self.fleet.names), out)

    def assertLogTail(self, report, server, flash_line):
        """The rollout's runs on server are its log's last text, in order."""
        texts = []
        for kind in ('discovery', 'update'):
            with open(os.path.join(report, 'logs', '%s.%s.log'
                                   % (server, kind))) as handle:
                texts.append(handle.read())
        with open(self.machine_file(server, 'var', 'vkx',
                                    'Component.log')) as handle:
            self.assertTrue(handle.read().endswith(''.join(texts)), server)
        self.assertIn(flash_line, texts[1])
        self.assertIn('qlafwupdate: engine trace (fd 3)\n', texts[1])

    def render(self, html, outcome='failed'):
        probe = self.fleet.path('probe.html')
        with open(probe, 'w') as handle:
            handle.write(PROBE % (outcome, html))
        profile = tempfile.mkdtemp(dir=self.fleet.dir)
        done = subprocess.run(
            CHROMIUM + ['--user-data-dir=' + profile, '--dump-dom',
                        'file://' + probe], stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, text=True, timeout=120)
        shutil.rmtree(profile, ignore_errors=True)
        start = done.stdout.index('<pre id="out">') + len('<pre id="out">')
        return json.loads(done.stdout[start:done.stdout.index('</pre>')])

    def in_one_run(self, pattern, *tasks, timeout=120):
        """Modules run as root on the servers one after the other, in one
        Ansible start rather than one a module: per (module, args) its
        result per server."""
        steps = ['step%d' % number for number in range(len(tasks))]
        kept = self.fleet.path('steps')
        os.mkdir(kept)
        play = [dict(hosts=pattern, gather_facts=False, tasks=[
            {module: args, 'register': step, 'become': True}
            for step, (module, args) in zip(steps, tasks)] + [{
                'ansible.builtin.copy': dict(
                    dest=kept + '/{{ inventory_hostname }}', mode='0600',
                    content='{{ [%s] | to_json }}' % ', '.join(steps)),
                'delegate_to': 'localhost'}])]
        with open(kept + '.yml', 'w') as handle:
            json.dump(play, handle)
        done = subprocess.run(
            ['ansible-playbook', kept + '.yml'],
            env=self.fleet.environment(self.collections), cwd=self.fleet.dir,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
            timeout=timeout)
        self.assertEqual(done.returncode, 0, done.stdout)
        found = {}
        for server in os.listdir(kept):
            with open(os.path.join(kept, server)) as handle:
                found[server] = json.load(handle)
        shutil.rmtree(kept)
        return [dict((server, results[number])
                     for server, results in found.items())
                for number in range(len(tasks))]

    def on_servers(self, pattern, command):
        done = subprocess.run(
            ['ansible', pattern, '-m', 'ansible.builtin.shell', '-a', command],
            env=self.fleet.environment(self.collections), cwd=self.fleet.dir,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
            timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout)
        return done.stdout

    def test_rollout(self):
        """The rollout story in stages, each taking the servers and the
        report folder as the stage before left them."""
        self.refuse_bad_bundles()
        self.check_changes_nothing()
        resume = self.stop_on_lost_servers()
        self.read_without_changing()
        killed_pid = self.kill_the_controller(resume)
        self.retry_after_the_kill()
        self.every_run_kept(self.pick_up_and_restart(), killed_pid)

    def refuse_bad_bundles(self):
        """Bundles the controller refuses before any server is touched, all
        tried at once: most of each run is Ansible's start."""
        with concurrent.futures.ThreadPoolExecutor(len(REFUSED)) as pool:
            runs = list(pool.map(lambda row: self.fleet.playbook(
                self.collections, '-e', 'hbafw_bundle=' + self.bundles[row[0]],
                '-e', 'hbafw_bundle_keyring=' + (
                    self.fleet.path('release.gpg') if row[1] else '')),
                REFUSED))
        for (bundle, _keyring, message), (code, out) in zip(REFUSED, runs):
            self.assertNotEqual(code, 0, bundle)
            self.assertIn(message, out, bundle)
            self.assertNotIn('Copy the bundle to the server', out, bundle)
        self.assertEqual(sorted(os.listdir(self.reports)),
                         ['hosts', 'inventory.ini'])
        # Pulled from the mirror, what a server refuses runs nothing there.
        # These runs take a report folder: one each.
        log = self.lines('srv02', 'var', 'vkx', 'Component.log')
        with concurrent.futures.ThreadPoolExecutor(len(PULL_REFUSED)) as pool:
            runs = list(pool.map(lambda row: self.fleet.playbook(
                self.collections, '--limit', 'srv02',
                *self.pulled(row[0], row[1]), '-e', 'hbafw_bundle_keyring='
                + (self.fleet.path('release.gpg') if row[2] else ''), '-e',
                'hbafw_report_dir=' + self.fleet.path('refused-' + row[0])),
                PULL_REFUSED))
        for (served, _given, _keyring, message), (code, out) in zip(
                PULL_REFUSED, runs):
            self.assertNotEqual(code, 0, served)
            self.assertIn(message, out, served)
        self.assertEqual(self.lines('srv02', 'var', 'vkx', 'Component.log'),
                         log)

    def check_changes_nothing(self):
        """A check run flashes nothing and says where a flash would be; its
        servers pull the bundle from the mirror."""
        pending = ['srv01', 'srv04', 'srv05', 'srv06', 'srv07', 'srv08']
        code, out, _, rows = self.rollout('--check', '--diff', pull=True)
        self.assertEqual(code, 0, out)
        self.assertIn('finished: no server needs another run', out)
        # srv07 sets the wait's old name.
        self.assertIn('hbafw_async_timeout is deprecated', out)
        for server in self.fleet.names:
            self.assertEqual(self.calls(server), [], server)
        self.assertIn('-%s Multiboot Image: 2.02\n+%s Multiboot Image: 3.10'
                      % (QLE2562, QLE2562), out)
        self.assertChanged(out, pending)
        would = ('2.02', 'upgrade', '2.02', 'would update', '3', CURRENT)
        self.assertRows(rows, [
            expected_rows('srv01', *would),
            expected_rows('srv02', '3.10', 'rewrite', '3.10', CURRENT, '3'),
            [('srv03', '', '', '', '', 'no adapter', '')],
            emulex_rows('srv04', KIT, 'upgrade', KIT, 'would update', '3',
                        CURRENT)] + [
            expected_rows(server, *would) for server in pending[2:-1]] + [
            two_vendor_rows('srv08', 'would update', '3')])

    def stop_on_lost_servers(self):
        """The rollout the lost servers of its second batch stop, while a
        second rollout is refused; the command that goes on is returned."""
        # srv05 stops answering the moment its flash starts; the flash there
        # ends while nobody watches. That stops the rollout after its batch.
        # srv06 freezes instead, with its sessions: no reset ever comes. Its
        # short keepalives (an open session) or the connect timeout (a new
        # one) give it up in seconds, long before its wait would end.
        lost = self.when_flash_starts('srv05', lambda: (
            self.fleet.stop_server('srv05'), self.release('srv05')))
        stalled = []
        frozen = self.when_flash_starts('srv06', lambda: (
            stalled.append(time.monotonic()),
            self.fleet.stall_server('srv06'), self.release('srv06')))
        # A second rollout into the same report folder, while the canary
        # flashes, stops before touching any server.
        second = []
        overlap = self.when_flash_starts('srv01', lambda: second.append(
            self.fleet.playbook(self.collections, '-e', 'hbafw_bundle='
                                + self.bundles['signed'], '-e',
                                'hbafw_report_dir=' + self.reports)))
        # srv01 has node_exporter's textfile folder: its update and the
        # check after its restart rewrite the metrics there.
        textfile = '/var/lib/prometheus/node-exporter'
        self.on_servers('srv01', 'mkdir -p ' + textfile)
        code, out, report, rows = self.rollout(
            '-e', 'hbafw_inventory=%s/bin/hbafw-inventory' % BUILD, pull=True)
        lost.set()
        frozen.set()
        overlap.set()
        self.assertNotEqual(second[0][0], 0, second[0][1])
        self.assertIn('another rollout is running into %s: run %s'
                      % (self.reports, os.path.basename(report)),
                      second[0][1])
        self.assertNotIn('Copy the bundle to the server', second[0][1])
        # Well inside the minute the default keepalives would take, and the
        # hour of the async wait.
        self.assertLess(time.monotonic() - stalled[0], 50, out)
        self.fleet.stop_server('srv06')
        self.assertEqual(code, 2, out)
        self.assertEqual([self.calls(s) for s in self.fleet.names],
                         [['/s'], [], [], [], ['/s'], ['/s'], [], []])
        self.assertEqual(len(self.lines('srv04', 'sim', 'elxflash', 'calls')),
                         1)
        first_batch = out.index("Update the server's adapters")
        self.assertRegex(out[first_batch:], r'^[^\n]*\n(ok|changed): '
                         r'\[srv01\]')
        self.assertEqual(self.lines('srv01', 'sim', 'power'),
                         ['shutdown -r +0'])
        self.assertEqual(self.lines('srv04', 'sim', 'power'), [])
        self.assertRows(rows, [
            expected_rows('srv01', '2.02', 'upgrade', '3.10', 'updated', '1',
                          CURRENT),
            expected_rows('srv02', '3.10', 'rewrite', '3.10', CURRENT, '3'),
            [('srv03', '', '', '', '', 'no adapter', '')],
            emulex_rows('srv04', KIT, 'upgrade', KIT_FLASHED,
                        'updated, reboot required', '1', CURRENT),
            lost_rows('srv05', 'unreachable'),
            lost_rows('srv06', 'unreachable'),
            expected_rows('srv07', '2.02', 'upgrade', '2.02', 'skipped', ''),
            two_vendor_rows('srv08', 'skipped', '')])
        # The worst first: the lost servers, with the step and the warning.
        self.assertEqual([row['server'] for row in rows[:4:2]],
                         ['srv05', 'srv06'])
        for row in rows[:4:2]:
            self.assertIn('contact lost at "update"',
                          row['message'], row['server'])
            self.assertIn('the flash may have run there', row['message'])
            # The task says it in one line, with the log's place; the
            # record itself stays in the run's folder.
            self.assertRegex(out, r'fatal: \[%s\]: FAILED! => {[^\n]*"msg": '
                             r'"unreachable: contact lost at [^\n]*\(log: '
                             r'%s/logs/%s.update.log\)"}\n' % (
                                 row['server'], report, row['server']))
        self.assertNotIn('"adapters"', out)
        self.assertEqual([row['reboot_required'] for row in rows
                          if row['server'] in ('srv01', 'srv04')],
                         ['False', 'False', 'True', 'True', 'True'])
        # The servers the threshold stop left are in the retry list, and
        # the last message says so, with the command that goes on.
        with open(os.path.join(report, 'retry.txt')) as handle:
            self.assertEqual(handle.read(), 'srv05\nsrv06\nsrv07\nsrv08\n')
        resume = re.search(r'^Rollout \S+ left 4 of 8 servers not updated '
                           r'\(unreachable 2, skipped 2\); to go on: '
                           r'ansible-playbook hbafw.fleet.rollout (.* '
                           r'--limit @%s/retry.txt)$' % report, out, re.M)
        self.assertTrue(resume, out)
        self.assertLogTail(report, 'srv01', 'Flash complete [1]\n')
        self.assertFalse(os.path.exists(os.path.join(
            report, 'logs', 'srv07.update.log')))
        self.assertIn('\nhbafw_last_run_info{action="rebooted",outcome='
                      '"updated"} 1\n', self.on_servers(
                          'srv01', 'cat %s/hbafw.prom' % textfile))

        seen = self.render(os.path.join(report, 'report.html'),
                           'unreachable')
        self.assertEqual(
            {key: seen.get('summary-' + key) for key in (
                'servers', 'adapters', 'updated', 'already-current',
                'no-adapter', 'unreachable', 'skipped', 'would-update')},
            {'servers': '8', 'adapters': '21', 'updated': '1',
             'already-current': '1', 'no-adapter': '1', 'unreachable': '2',
             'skipped': '2', 'would-update': '0'})
        self.assertEqual(seen['bars'], 6)
        self.assertLessEqual(seen['scrollWidth'], seen['clientWidth'])
        self.assertEqual((seen['rows'], seen['failedRows'],
                          seen['firstServer']), (22, 4, 'srv08'))
        return resume

    def read_without_changing(self):
        """hbafw_info and the fleet's state after that rollout."""
        # hbafw_info reads what each server runs and leaves every server as
        # it was: its state, log and restart signal.
        answering = 'srv01,srv02,srv03,srv04'
        state = ('find /var/lib/hbafw /var/vkx -printf "%p %s %T@\\n" | sort;'
                 ' cat /run/reboot-required.pkgs 2>/dev/null; true')

        before, info, after = self.in_one_run(
            answering, ('ansible.builtin.shell', state),
            ('hbafw.fleet.hbafw_info',
             dict(inventory='%s/bin/hbafw-inventory' % BUILD)),
            ('ansible.builtin.shell', state))
        before, after = [dict((server, result['stdout']) for server, result
                              in found.items()) for found in (before, after)]
        self.assertEqual(after, before)
        self.assertTrue(before['srv04'].endswith('\nhbafw'), before)
        self.assertEqual(
            dict((server, (result['changed'], result['compliance'],
                           result['reboot_required'],
                           len(result['adapters']),
                           [(entry['action'], entry['outcome'])
                            for entry in result['history']]))
                 for server, result in info.items()),
            {'srv01': (False, None, False, 2, [
                ('discovered', 'update pending'),
                ('updated', 'updated, reboot required'),
                ('rebooted', 'updated')]),
             'srv02': (False, None, False, 2,
                       [('discovered', 'already current')]),
             'srv03': (False, 'no adapter', False, 0,
                       [('discovered', 'no adapter')]),
             'srv04': (False, 'reboot required', True, 0, [
                 ('discovered', 'update pending'),
                 ('updated', 'updated, reboot required')])})
        self.assertEqual(info['srv01']['history'][1]['items'][0]['before'],
                         '2.02')
        # So does the inventory playbook, into a report folder of its own;
        # srv05 no longer answers.
        read = self.fleet.path('inventory-report')
        code, out = self.fleet.playbook(
            self.collections, '--limit', answering + ',srv05', '-e',
            'hbafw_report_dir=%s hbafw_inventory=%s/bin/hbafw-inventory'
            % (read, BUILD), name='hbafw.fleet.inventory')
        self.assertEqual(dict((server, result['stdout']) for server, result
                              in self.in_one_run(answering, (
                                  'ansible.builtin.shell', state))[0].items()),
                         before)
        self.assertEqual(code, 2, out)
        self.assertRegex(out, r'Inventory \S+ left 1 of 5 servers not read '
                         r'\(unreachable 1\)')
        with open(os.path.join(read, 'fleet.json')) as handle:
            self.assertEqual(
                dict((name, known['outcome']) for name, known in
                     json.load(handle)['servers'].items()),
                {'srv01': 'not compared', 'srv02': 'not compared',
                 'srv03': 'no adapter', 'srv04': 'reboot required',
                 'srv05': 'unreachable'})
        self.assertTrue(os.path.isfile(os.path.join(read, 'latest',
                                                    'report.csv')))

    def kill_the_controller(self, resume):
        """The command that goes on, its controller killed mid-flash; the
        killed controller's process id is returned."""
        # The command that goes on reaches srv07 (its flash outlasts its
        # wait); the controller is killed while srv07 flashes. The report
        # says a flash may be running there and that the run did not finish.
        killed = self.when_flash_starts('srv07', lambda: [
            os.kill(pid, signal.SIGKILL)
            for pid in simfleet.descendants(self.fleet.running.pid)])
        code, out, report, rows = self.rollout(
            *shlex.split(resume.group(1)), exact=True)
        killed_pid = self.fleet.running.pid
        killed.set()
        self.assertEqual(code, -signal.SIGKILL, out)
        started = 'update started: the flash may be running'
        self.assertRows(rows, [
            [('srv05', '', '', '', '', 'unreachable', '')],
            [('srv06', '', '', '', '', 'unreachable', '')],
            lost_rows('srv07', started),
            two_vendor_rows('srv08', 'skipped', '')])
        with open(os.path.join(report, 'report.json')) as handle, \
                open(os.path.join(self.reports, 'fleet.json')) as fleet:
            self.assertEqual((json.load(handle)['run'].get('finished'),
                              json.load(fleet)['servers']['srv07']['outcome']),
                             (None, started))
        return killed_pid

    def retry_after_the_kill(self):
        """The retry list's run after the kill: a flash still going on and a
        damaged bundle folder."""
        # The bundle folder stays on srv08, whose batch no run reached; one
        # already on a server is checked, never rewritten: a damaged one
        # stops that server. The re-run after the kill finds srv07 still
        # flashing: a failure, so nothing is updated and it exits 2.
        with open(self.bundles['signed'], 'rb') as handle:
            digest = hashlib.sha256(handle.read()).hexdigest()
        folder = '%s/%s' % (simfleet.REMOTE_BUNDLE, digest)
        self.on_servers('srv08', 'test -d %s && echo >> %s/qlafwupdate'
                        % (folder, folder))
        code, out, report, rows = self.rollout(
            '--limit', '@%s/latest/retry.txt' % self.reports)
        self.assertEqual(code, 2, out)
        self.assertRegex(out, r'srv07\s+: ok=\d+\s+changed=0\s+'
                         r'unreachable=0\s+failed=1')
        self.assertEqual([self.calls('srv07'), self.calls('srv08')],
                         [['/s'], []])
        self.assertEqual(dict((row['server'], row['outcome']) for row in rows),
                         {'srv05': 'unreachable', 'srv06': 'unreachable',
                          'srv07': 'still flashing',
                          'srv08': 'bundle corrupt'})
        self.assertIn('qlafwupdate does not match', rows[0]['message'])
        self.on_servers('srv08', 'rm -r ' + folder)
        self.release('srv07')
        self.assertNotIn(digest, self.on_servers(
            'srv01,srv02,srv03', 'ls -A ' + simfleet.REMOTE_BUNDLE))

    def pick_up_and_restart(self):
        """A picked-up flash restarted and lost, a busy server, a failing
        one and a restart still due; the run's folder is returned."""
        # Nothing is flashed twice. srv07's flash is picked up and, now with
        # restarts if required, restarted: it does not come back (its boot
        # id never changes, its sshd stops), which the restart step gives
        # up after hbafw_reboot_lost_timeout, not the 20 minutes a restart
        # may take. srv08 runs its QLogic and its Brocade build, both of
        # which fail. srv04's flashed firmware still waits for a
        # restart; another update holds srv02. One batch of both.
        os.mkdir(self.fleet.path('host_vars'))
        with open(self.fleet.path('host_vars', 'srv07.yml'), 'w') as handle:
            handle.write('hbafw_reboot: if_required\n'
                         'hbafw_reboot_command: shutdown -r +0\n'
                         'hbafw_boot_id_command: echo 0\n'
                         'hbafw_reboot_lost_timeout: 20\n')
        gone = self.when_flash_starts('srv07', lambda: self.fleet.stop_server(
            'srv07'), 'sim', 'power')
        holder = os.open(self.machine_file('srv02', 'var', 'vkx',
                                           'Component.lock'),
                         os.O_RDONLY | os.O_CREAT, 0o600)
        fcntl.flock(holder, fcntl.LOCK_EX)
        code, out, report, rows = self.rollout('-e', '{"hbafw_serial": [2]}')
        os.close(holder)
        gone.set()
        self.assertEqual(code, 2, out)
        self.assertChanged(out, [])
        self.assertEqual([self.calls(s) for s in self.fleet.names],
                         [['/s'], [], [], [], ['/s'], ['/s'], ['/s'], ['/s']])
        self.assertEqual(len(self.lines('srv04', 'sim', 'elxflash', 'calls')),
                         1)
        self.assertEqual(self.lines('srv07', 'sim', 'power'),
                         ['shutdown -r +0'])
        self.assertRows(rows, [
            expected_rows('srv01', '3.10', 'rewrite', '3.10', CURRENT, '3'),
            [('srv02', '', '', '', '', 'busy', '7')],
            [('srv03', '', '', '', '', 'no adapter', '')],
            emulex_rows('srv04', KIT_FLASHED, 'rewrite', KIT_FLASHED,
                        'already current, reboot required', '3'),
            [('srv05', '', '', '', '', 'unreachable', '')],
            [('srv06', '', '', '', '', 'unreachable', '')],
            expected_rows('srv07', '2.02', 'upgrade', '3.10', 'unreachable',
                          '1'),
            two_vendor_rows('srv08', 'failed', '7')])
        self.assertEqual(self.lines('srv08', 'sim', 'bcu', 'calls'),
                         ['boot --update bfa_boot_fw -a'])
        messages = dict((row['server'], row['message']) for row in rows)
        self.assertIn('another firmware update is running', messages['srv02'])
        self.assertIn('contact lost at "restart"', messages['srv07'])
        self.assertIn('flashed and verified; activation unconfirmed',
                      messages['srv07'])
        self.assertIn('exit code 12', rows[0]['message'])
        for server in ('srv05', 'srv06'):
            self.assertIn('contact lost at "discovery"', next(
                row['message'] for row in rows if row['server'] == server))
        self.assertEqual(sorted((row['server'], row['reboot_required'])
                                for row in rows if row['server'] in (
                                    'srv01', 'srv04', 'srv07')),
                         [('srv01', 'False')] * 2 + [('srv04', 'True')] * 3
                         + [('srv07', 'True')] * 2)
        self.assertLogTail(report, 'srv08', 'Flash complete [12]\n')
        return report

    def every_run_kept(self, report, killed_pid):
        """What all the runs left on the controller and the host."""
        # Every run kept its own folder beside the operator's files; the
        # fleet state holds each server's latest outcome.
        runs = [name for name in os.listdir(self.reports)
                if name[:1].isdigit()]
        self.assertEqual(len(runs), 5)
        self.assertEqual(os.readlink(os.path.join(self.reports, 'latest')),
                         os.path.basename(report))
        self.assertEqual(dict((path, state) for path, state in
                              snapshot(self.reports).items()
                              if path in self.operator_files),
                         self.operator_files)
        with open(os.path.join(self.reports, 'fleet.json')) as handle:
            fleet = json.load(handle)['servers']
        self.assertEqual(
            dict((name, known['outcome']) for name, known in fleet.items()),
            {'srv01': CURRENT, 'srv02': 'busy', 'srv03': 'no adapter',
             'srv04': 'already current, reboot required',
             'srv05': 'unreachable', 'srv06': 'unreachable',
             'srv07': 'unreachable', 'srv08': 'failed'})

        self.fleet.stop()
        for top in HOST_TREES:
            self.assertEqual(snapshot(top), self.before[top], top)
        for path in HOST_ABSENT:
            self.assertFalse(os.path.exists(path), path)
        # Ansible's own temporary files stay in the run's folders, and go,
        # but for the killed run's.
        for folder in ('ansible-local', 'controller-tmp'):
            self.assertEqual([name for name in os.listdir(self.fleet.path(
                folder)) if not name.startswith('ansible-local-%d'
                                                % killed_pid)], [], folder)

    def test_rehearsal(self):
        """Three servers captured, read only, and a rollout rehearsed on
        their twins, given by the builder's keys what no capture sees: the
        images the canary srv01's flash leaves, then in one batch srv04's
        failing engine and srv08 lost the moment its flash starts."""
        servers = ['srv01', 'srv04', 'srv08']
        folder = self.fleet.path('rehearsal')
        before = [self.machine_state(server) for server in servers]
        # The fleet's own servers carry no twin mark: a rehearsal aimed at
        # them stops before anything runs (their state is checked below).
        code, out = self.fleet.playbook(
            self.collections, '-e', 'hbafw_report_dir=' + folder,
            '-e', 'hbafw_bundle=' + self.fleet.bundle,
            '-e', 'hbafw_rehearsal=true', '--limit', ','.join(servers))
        self.assertNotEqual(code, 0, out)
        self.assertIn('srv01 is not a twin', out)
        self.assertFalse(os.path.exists(folder), out)
        code, out = self.fleet.playbook(
            self.collections, '-e', 'hbafw_report_dir=' + folder,
            '-e', 'hbafw_inventory_command=' + os.path.join(
                BUILD, 'bin', 'hbafw-inventory'),
            '--limit', ','.join(servers), name='hbafw.fleet.capture')
        self.assertEqual((code, RECAP.findall(out)),
                         (0, [(server, '0') for server in servers]), out)
        self.assertEqual([self.machine_state(server) for server in servers],
                         before)
        captures = os.path.join(folder, 'captures')
        self.assertEqual(sorted(os.listdir(captures)), servers)

        report = os.path.join(folder, 'reports')
        with contextlib.redirect_stdout(io.StringIO()) as shown:
            code = simfleet.main([
                REPO, BUILD, 'twins:' + captures, report,
                '--set', 'srv01:flashed.0=3.10',
                '--set', 'srv01:flashed.1=3.28',
                '--set', 'srv04:flash=exit 12',
                '--set', 'srv08:flash=slow 5', '--lose', 'srv08',
                '-e', BATCHES, '-e', 'hbafw_bundle=' + self.fleet.bundle])
        self.assertEqual(code, 2, shown.getvalue())
        # Its last lines offer no command: the twins are gone by now.
        self.assertIn('to rehearse again', shown.getvalue())
        self.assertNotIn('--limit @', shown.getvalue())
        with open(os.path.join(report, 'latest', 'report.json')) as handle:
            rehearsed = json.load(handle)
        self.assertTrue(rehearsed['run']['rehearsal'])
        with open(os.path.join(report, 'latest', 'report.html')) as handle:
            self.assertIn('Rehearsal on twins of the fleet', handle.read())
        self.assertEqual(
            sorted(set((row['server'], row['outcome'])
                       for row in rehearsed['rows'])),
            [('srv01', 'already current'),
             ('srv01', 'updated, reboot required'), ('srv04', 'failed'),
             ('srv08', 'unreachable')])
        self.assertFalse(os.path.exists(os.path.join(report, 'fleet.json')))

    def test_runner(self):
        """The rollout of three servers under ansible-runner, the engine of
        AWX and Automation Platform: its artifacts hold the run, and its
        event stream names each server's outcome."""
        if not shutil.which('ansible-runner'):
            self.skipTest('ansible-runner is not installed')
        data = self.fleet.path('runner')
        for folder in ('project', 'env'):
            os.makedirs(os.path.join(data, folder))
        with open(os.path.join(data, 'project', 'rollout.yml'), 'w') as play:
            play.write('- ansible.builtin.import_playbook: '
                       'hbafw.fleet.rollout\n')
        with open(os.path.join(data, 'env', 'extravars'), 'w') as extra:
            json.dump({'hbafw_report_dir': self.fleet.path('runner-reports'),
                       'hbafw_bundle': self.bundles['signed'],
                       'hbafw_bundle_keyring': self.fleet.path('release.gpg')},
                      extra)
        done = subprocess.run(
            ['ansible-runner', 'run', data, '-p', 'rollout.yml', '--ident',
             'rollout', '--inventory', self.fleet.path('inventory.ini'),
             '--limit', 'srv02,srv03,srv04'],
            env=self.fleet.environment(self.collections), cwd=self.fleet.dir,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
            timeout=600)
        artifacts = os.path.join(data, 'artifacts', 'rollout')
        self.assertEqual(done.returncode, 0, done.stdout)
        with open(os.path.join(artifacts, 'status')) as status, \
                open(os.path.join(artifacts, 'rc')) as code, \
                open(os.path.join(artifacts, 'stdout')) as out:
            self.assertEqual((status.read(), code.read()),
                             ('successful', '0'))
            self.assertIn('PLAY RECAP', out.read())
        outcomes = {}
        events = glob.glob(os.path.join(artifacts, 'job_events', '*.json'))
        for path in sorted(events, key=lambda name: int(
                os.path.basename(name).split('-')[0])):
            with open(path) as handle:
                event = json.load(handle)
            result = event.get('event_data', {}).get('res', {})
            if event['event'] == 'runner_on_ok' and 'outcome' in result:
                outcomes[event['event_data']['host']] = result['outcome']
        self.assertEqual(outcomes, {'srv02': CURRENT, 'srv03': 'no adapter',
                                    'srv04': 'updated, reboot required'})

    def machine_state(self, server):
        """A server's files but the simulated library's and tools' own."""
        machine = self.fleet.machine(server)
        return dict((path, info) for path, info in snapshot(machine).items()
                    if not path.startswith(os.path.join(machine, 'sim')))

    def test_report_for_500_servers(self):
        found = {'adapters': [{'device_id': QLE2562, 'product_id': 'QLE2562',
                               'items': [{'type': 'Multiboot Image',
                                          'version': '3.10',
                                          'active_version': '2.02',
                                          'action': 'upgrade'}]}]}
        # Every fifth server failed, every fifth was unreachable.
        updates = [{'failed': True, 'exit_code': 12, 'msg': '=cmd|boom'},
                   {'changed': True, 'exit_code': 1}, {'exit_code': 3},
                   None, {'changed': True, 'reboot_required': True}]
        hosts = ['srv%03d' % number for number in range(500)]
        records = {}
        for number, host in enumerate(hosts):
            update = updates[number % 5]
            records[host] = ({'discovery': {'unreachable': True}}
                             if update is None else
                             {'discovery': found, 'update': update})
        page = self.fleet.path('page500', 'report.html')
        os.mkdir(os.path.dirname(page))
        report = fleet_rows.build_report(hosts, records, {'id': '1'})
        with open(page, 'w') as handle:
            handle.write(fleet_page.render_html(report))
        seen = self.render(page)
        self.assertLess(seen['loadMs'], 2000)
        self.assertLessEqual(seen['scrollWidth'], seen['clientWidth'])
        self.assertEqual((seen['rows'], seen['failedRows'],
                          seen['firstServer'], seen['summary-unreachable']),
                         (500, 100, 'srv499', '100'))


# The agreement table: per machine, what the read side says before the
# rollout (hbafw_info's compliance against the bundle kept there, the
# rollout's --check, the rehearsal on the machine's twin) against what the
# rollout then does, and what the read side says afterwards (the newest
# history record, hbafw_reboot_required in hbafw-inventory's metrics, the
# restart signal naming the package). A row: its server kind, the builder's
# keys the operator gives its twin (what no capture sees), then the expected
# compliance, check, rollout and twin outcomes, history, metric and signal.
Agrees = collections.namedtuple('Agrees', (
    'name', 'kind', 'twin', 'compliance', 'check', 'rollout', 'rehearsal',
    'history', 'reboot'))
DUE, WOULD = 'update available', 'would update'
FLASHED = 'updated, reboot required'
UNREADABLE, UNLISTED = 'version unreadable', 'adapters not listed'
NEWER = 'newer than the bundle'
FAILED_FLASH = ['flash=exit 12']
AGREEMENT = [
    Agrees('qlogic due', 'pending', ['flashed.0=3.10', 'flashed.1=3.28'],
           DUE, WOULD, FLASHED, FLASHED, FLASHED, True),
    Agrees('qlogic current', 'current', [], 'compliant', CURRENT, CURRENT,
           CURRENT, CURRENT, False),
    Agrees('no adapter', 'no-adapter', [], 'no adapter', 'no adapter',
           'no adapter', 'no adapter', 'no adapter', False),
    Agrees('emulex due', 'emulex',
           ['flashed.0=US2.02A1', 'flashed.1=12.0.346.48'],
           DUE, WOULD, FLASHED, FLASHED, FLASHED, True),
    Agrees('qlogic+emulex due', ('qlogic+emulex', FAILED_FLASH),
           FAILED_FLASH, DUE, WOULD, 'failed', 'failed', 'failed', False),
    Agrees('qlogic+brocade due', 'qlogic+brocade failing', FAILED_FLASH, DUE,
           WOULD, 'failed', 'failed', 'failed', False),
    # The tool answers "Flash Image : N/A": the comparison calls it older.
    Agrees('version N/A', ('qlogic', ['image.0=N/A']), [], UNREADABLE,
           UNREADABLE, UNREADABLE, UNREADABLE, UNREADABLE, False),
    Agrees('newer firmware', ('qlogic', ['image.0=9.99']), [], NEWER, NEWER,
           NEWER, NEWER, NEWER, False),
    # Emulex adapters on the PCI bus that the kit does not list.
    Agrees('emulex unlisted', ('emulex', ['adapters=0', 'unlisted=10df:e200']),
           [], UNLISTED, UNLISTED, UNLISTED, UNLISTED, UNLISTED, False),
    # Flashed by hand before any of it: only the component's record tells.
    # Its twin cannot know of a flash on the server (None: not compared).
    Agrees('flashed by hand', 'pending', None, 'reboot required',
           'already current, reboot required',
           'already current, reboot required', None,
           'already current, reboot required', True),
]
AGREE_BUNDLE = '/var/lib/hbafw/bundles/agree'
# One batch that no failure stops: every row reaches its own outcome.
ONE_BATCH = '{"hbafw_serial": ["100%"], "hbafw_max_fail_percentage": 100}'


class AgreementTest(FleetRolloutTest):
    kinds = [row.kind for row in AGREEMENT]

    def outcomes(self, report):
        with open(os.path.join(report, 'latest', 'report.json')) as handle:
            found = json.load(handle)
        return dict((server['server'], server['outcome'])
                    for server in found['servers'])

    def read_after(self):
        """Per server: the newest history record's outcome, the metric
        hbafw_reboot_required and whether the restart signal names hbafw."""
        metrics = '/var/tmp/hbafw-agreement.prom'
        info, shell = self.in_one_run(
            'all', ('hbafw.fleet.hbafw_info', dict(
                inventory='%s/bin/hbafw-inventory' % BUILD)),
            ('ansible.builtin.shell',
             '%s/bin/hbafw-inventory --prometheus %s; grep -x '
             '"hbafw_reboot_required [01]" %s; grep -cx hbafw '
             '/run/reboot-required.pkgs; true' % (BUILD, metrics, metrics)),
            timeout=600)
        return dict((server, (
            (info[server]['history'] or [{}])[-1].get('outcome'),
            shell[server]['stdout_lines'][0] == 'hbafw_reboot_required 1',
            shell[server]['stdout_lines'][-1] == '1'))
            for server in info)

    def test_agreement(self):
        servers = self.fleet.names
        hand = servers[-1]
        folder = self.fleet.path('agreement')
        inventory = os.path.join(BUILD, 'bin', 'hbafw-inventory')
        # The bundle kept on every server, as hbafw_keep_bundle leaves it;
        # one server's QLogic flash run there by hand.
        self.on_servers('all', 'mkdir -m 700 -p %s && tar -xzf %s -C %s '
                        '--strip-components=1' % (
                            AGREE_BUNDLE, self.fleet.bundle, AGREE_BUNDLE))
        self.on_servers(hand, 'cd %s; ./hbafw-qlogic /s; test $? = 1'
                        % AGREE_BUNDLE)

        read, = self.in_one_run('all', ('hbafw.fleet.hbafw_info', dict(
            inventory=inventory, chdir=AGREE_BUNDLE)), timeout=600)
        compliance = dict((server, found['compliance'])
                          for server, found in read.items())
        code, out = self.fleet.playbook(
            self.collections, '-e', 'hbafw_report_dir=%s/check' % folder,
            '-e', 'hbafw_bundle=' + self.fleet.bundle, '--check')
        check = self.outcomes(folder + '/check')

        code, out = self.fleet.playbook(
            self.collections, '-e', 'hbafw_report_dir=' + folder,
            '-e', 'hbafw_inventory_command=' + inventory,
            name='hbafw.fleet.capture')
        self.assertEqual(code, 0, out)
        twin_keys = []
        for server, row in zip(servers, AGREEMENT):
            for key in row.twin or []:
                twin_keys += ['--set', '%s:%s' % (server, key)]
        with contextlib.redirect_stdout(io.StringIO()) as shown:
            simfleet.main([REPO, BUILD, 'twins:' + folder + '/captures',
                           folder + '/rehearsal'] + twin_keys + [
                '-e', ONE_BATCH, '-e', 'hbafw_bundle=' + self.fleet.bundle])
        rehearsal = self.outcomes(folder + '/rehearsal')
        self.assertIn('to rehearse again', shown.getvalue())

        code, out = self.fleet.playbook(
            self.collections, '-e', 'hbafw_report_dir=%s/rollout' % folder,
            '-e', 'hbafw_bundle=' + self.fleet.bundle, '-e', ONE_BATCH)
        rollout = self.outcomes(folder + '/rollout')
        after = self.read_after()
        for server, row in zip(servers, AGREEMENT):
            self.assertEqual(
                (compliance[server], check[server], rollout[server],
                 rehearsal[server] if row.twin is not None else None,
                 after[server]),
                (row.compliance, row.check, row.rollout, row.rehearsal,
                 (row.history, row.reboot, row.reboot)),
                '%s (%s)' % (row.name, server))


if __name__ == '__main__':
    # Names after REPO and BUILD_DIR pick tests, so ctest can run the
    # rehearsal beside the rollout, each on a fleet of its own.
    unittest.main(argv=sys.argv[:1] + sys.argv[3:])
