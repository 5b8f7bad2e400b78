# The hbafw module run in this process (its arguments set, exit_json and
# fail_json caught) over a stand-in component script in a temporary bundle, so
# the paths through the module are covered without SSH: a missing report, no
# adapter, check mode, force, the run lock, the flash engine's own exit codes,
# a flash that shows the old version afterwards, and one that outlasts the
# wait. One row runs it as Ansible does, in an interpreter of its own.

import base64
import collections
import hashlib
import io
import json
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
from unittest import mock

from ansible.module_utils import basic

from ansible_collections.hbafw.fleet.plugins.module_utils.server_state \
    import history_path, read_history, signal_state
from ansible_collections.hbafw.fleet.plugins.modules import hbafw
from ansible_collections.hbafw.fleet.tests.unit.plugins.module_utils.\
    test_component import REPORT

MODULE = 'ansible_collections.hbafw.fleet.plugins.modules.hbafw'
# The folder holding ansible_collections, for the module's own interpreter.
COLLECTIONS = os.path.abspath(os.path.join(
    os.path.dirname(__file__), *['..'] * 7))
# The stand-in writes the report kept in its folder (if any) for /d, else
# prints "none" and exits 7 if it exists (3 if not); an update records its
# arguments, sleeps the seconds in "slow", prints what "say" holds, puts
# "after" in place of the report when it exits 1, and exits with "code".
COMPONENT = '''#!/bin/sh
here=$(dirname "$0")
if [ "$1" = /d ]; then
    [ -f "$here/report" ] && cp "$here/report" "$2" && exit 3
    [ -f "$here/none" ] && cat "$here/none" && exit 7
    echo "Generating self-discovery XML...FAILED!"
    exit 3
fi
echo "$*" >> "$here/calls"
sleep "$(cat "$here/slow")"
cat "$here/say" 2>/dev/null
code=$(cat "$here/code")
[ "$code" = 1 ] && cp "$here/after" "$here/report"
exit "$code"
'''
# Its BIOS runs 1.1, newer than the bundle's 1.0.
NEWER = REPORT.replace('"upgrade"', '"rewrite"')
CURRENT = NEWER.replace('value="1.1"', 'value="1.0"').replace(
    '"downgrade"', '"rewrite"')
FLASHED = CURRENT.replace('value="2.02"', 'value="3.10"')
NO_ADAPTER = 'WARNING! : No supported adapters found.\n'
LOCK = 'ERROR! : Another firmware update is running on this machine.\n'


def pack(files):
    """A bundle archive of the files, with their SHA256SUMS."""
    files = dict(files, SHA256SUMS=''.join(
        '%s  %s\n' % (hashlib.sha256(text.encode()).hexdigest(), name)
        for name, text in sorted(files.items())))
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode='w:gz') as tar:
        for name, text in files.items():
            info = tarfile.TarInfo('hbafw-bundle-1.0.0/' + name)
            info.size, info.mode = len(text.encode()), 0o755
            tar.addfile(info, io.BytesIO(text.encode()))
    return out.getvalue()


# A row of test_results: the component's report, its update exit code, the
# module's state, check and force, further run_module arguments; then what
# the result says and the update call the stand-in saw.
Result = collections.namedtuple('Result', (
    'report', 'code', 'state', 'check', 'force', 'more', 'failed',
    'changed', 'exit_code', 'calls', 'outcome', 'words'), defaults=(
    'updated', False, False, {}, False, False, 3, '', None, None))

# A row of test_bundle_placed_then_removed_unless_an_update_follows: the
# report, the state, check, further arguments (by default remove_bundle);
# then whether it failed, update_due, the outcome, whether the bundle folder
# is left.
Placed = collections.namedtuple('Placed', (
    'report', 'state', 'check', 'more', 'failed', 'due', 'outcome',
    'left'), defaults=(False, {'remove_bundle': True}, False, False, None,
                       False))

# A row of test_update_runs_only_from_the_verified_bundle: the digests
# changed, what is done to the folder; the update calls, the error.
Verified = collections.namedtuple('Verified', (
    'digests', 'prepare', 'calls', 'error'), defaults=(None, '', None))
# One run after another of test_flash_outlasting_the_wait_is_picked_up_not_
# repeated: the state; changed, exit code, outcome, reboot required.
Step = collections.namedtuple('Step', (
    'state', 'changed', 'exit_code', 'outcome', 'reboot'), defaults=(False,))


class Exited(Exception):
    """What exit_json or fail_json would have printed."""


def exit_json(_module, **result):
    raise Exited(result)


def fail_json(_module, msg, **result):
    raise Exited(dict(result, failed=True, msg=msg))


def run_in_process(arguments, home, module=hbafw):
    # The test removes the folder; the module's removal at exit would come
    # after it, once per row.
    arguments['ANSIBLE_MODULE_ARGS']['_ansible_keep_remote_files'] = True
    with mock.patch.object(basic, '_ANSIBLE_ARGS', json.dumps(
            arguments).encode()), \
            mock.patch.object(basic.AnsibleModule, 'exit_json', exit_json), \
            mock.patch.object(basic.AnsibleModule, 'fail_json', fail_json), \
            mock.patch.dict(os.environ, HOME=home):
        try:
            module.main()
        except Exited as done:
            return done.args[0]
    raise AssertionError('the module ended without exit_json or fail_json')


def run_as_ansible(arguments, home):
    path = os.path.join(home, 'args.json')
    with open(path, 'w') as handle:
        json.dump(arguments, handle)
    done = subprocess.run([sys.executable, '-m', MODULE, path],
                          stdout=subprocess.PIPE, text=True, timeout=60,
                          check=False, env=dict(os.environ, HOME=home,
                                                PYTHONPATH=COLLECTIONS))
    return json.loads(done.stdout)


class ModuleRunTest(unittest.TestCase):
    def run_module(self, report, code, state, check=False, force=False,
                   say='', after=FLASHED, slow=0, wait=60, folder=None,
                   packed=None, digests=None, args=None, run=run_in_process):
        """packed: the files go as a bundle archive, with these further
        module arguments (a bundle_digest of None is the archive's).
        digests: the files' digests, changed so, go as bundle_digests;
        args: further module arguments; run: in this process or not."""
        if folder is None:
            folder = tempfile.mkdtemp(prefix='hbafw-module-')
            self.addCleanup(shutil.rmtree, folder)
        bundle = os.path.join(folder, 'bundle')
        files = {'component': COMPONENT, 'code': str(code), 'say': say,
                 'after': after, 'slow': str(slow)}
        if report is not None:
            files['report'] = report
        elif code == 7:
            files['none'] = NO_ADAPTER
        more = dict(packed or {}, **(args or {}))
        if packed is None:
            os.makedirs(bundle, exist_ok=True)
            for name, text in files.items():
                with open(os.path.join(bundle, name), 'w') as handle:
                    handle.write(text)
            os.chmod(os.path.join(bundle, 'component'), 0o755)
            if digests is not None:
                more['bundle_digests'] = dict(dict(
                    (name, hashlib.sha256(text.encode()).hexdigest())
                    for name, text in files.items()), **digests)
        else:
            archive = pack(files)
            more['bundle_content'] = base64.b64encode(archive).decode()
            more['bundle_digest'] = more.get('bundle_digest') or \
                hashlib.sha256(archive).hexdigest()
        result = run({'ANSIBLE_MODULE_ARGS': dict({
            'executable': './component', 'chdir': bundle,
            'state': state, 'force': force, '_ansible_check_mode': check,
            'wait': wait, 'state_dir': os.path.join(folder, 'runs'),
            'reboot_signal': os.path.join(folder, 'reboot-required'),
            '_ansible_remote_tmp': folder,
            '_ansible_keep_remote_files': False}, **more)}, folder)
        flashed = ''
        if os.path.exists(os.path.join(bundle, 'calls')):
            with open(os.path.join(bundle, 'calls')) as handle:
                flashed = handle.read()
        return result, flashed

    def test_results(self):
        rows = [
            Result(None, 1, failed=True, outcome='failed',
                   words='discovery wrote no report'),
            Result(None, 7, exit_code=7, outcome='no adapter',
                   words='no supported adapter'),
            Result('<x/>', 1, 'discovered', failed=True, outcome='failed',
                   words='not <tellin_rom_discovery>'),
            Result(REPORT, 1, 'discovered', outcome='update pending'),
            Result(REPORT, 1, check=True, changed=True,
                   outcome='would update'),
            Result(CURRENT, 1, check=True, outcome='already current'),
            Result(CURRENT, 1, check=True, force=True, changed=True,
                   outcome='would update'),
            Result(REPORT, 1, changed=True, exit_code=1, calls='/s\n',
                   outcome='updated, reboot required', words='exit code 1'),
            Result(REPORT, 1, more={'after': REPORT}, failed=True,
                   changed=True, exit_code=1, calls='/s\n',
                   outcome='failed: not verified',
                   words='1077.2532.1077.015d Multiboot Image shows 2.02, '
                   'not 3.10'),
            Result(REPORT, 1, more={'after': CURRENT.replace(
                '1077.2532', '1077.9999')}, failed=True, changed=True,
                exit_code=1, calls='/s\n', outcome='failed: not verified',
                words='1077.2532.1077.015d Multiboot Image is gone'),
            Result(CURRENT, 1, force=True, changed=True, exit_code=1,
                   calls='/s /f\n', outcome='updated, reboot required',
                   words='exit code 1'),
            Result(CURRENT, 3, outcome='already current',
                   words='nothing to flash'),
            Result(NEWER, 3, outcome='newer than the bundle',
                   words='newer than the bundle: nothing flashed'),
            # The comparison calls N/A older than 3.10: an upgrade, not run.
            Result(REPORT.replace('value="2.02"', 'value="N/A"'), 1,
                   failed=True, outcome='version unreadable',
                   words="Multiboot Image 'N/A'"),
            Result(REPORT, 7, more={'say': LOCK}, failed=True, exit_code=7,
                   calls='/s\n', outcome='busy',
                   words='another firmware update is running'),
            Result(REPORT, 12, failed=True, exit_code=12, calls='/s\n',
                   outcome='failed', words='exit code 12: passed on'),
            Result(REPORT, 1, more={'args': {'run_id': '../r'}}, failed=True,
                   changed=None, exit_code=None, outcome='failed',
                   words="run_id '../r' cannot name"),
            # Another run removed the bundle folder before the update.
            Result(REPORT, 1, more={'args': {'chdir': '/-'}}, failed=True,
                   changed=None, exit_code=None, outcome='busy',
                   words='bundle folder /- is gone'),
            # The module as Ansible runs it, in an interpreter of its own.
            Result(REPORT, 1, more={'run': run_as_ansible}, changed=True,
                   exit_code=1, calls='/s\n',
                   outcome='updated, reboot required', words='exit code 1'),
        ]
        for row in rows:
            with self.subTest(report=row.report and row.report[:20],
                              code=row.code, state=row.state,
                              check=row.check, force=row.force,
                              more=sorted(row.more)):
                folder = tempfile.mkdtemp(prefix='hbafw-module-')
                self.addCleanup(shutil.rmtree, folder)
                result, flashed = self.run_module(
                    row.report, row.code, row.state, row.check, row.force,
                    folder=folder, **row.more)
                history = read_history(history_path(
                    os.path.join(folder, 'runs')))
                self.assertEqual(
                    [(entry['outcome'], entry['reboot_required'])
                     for entry in history],
                    [] if row.check or 'builds' not in result
                    else [(row.outcome, result['reboot_required'])])
                self.assertEqual(
                    signal_state(os.path.join(folder, 'reboot-required'))[0],
                    result['reboot_required'])
                self.assertEqual((bool(result.get('failed')),
                                  result.get('changed'),
                                  result.get('exit_code'),
                                  flashed, result['outcome'],
                                  result['reboot_required']),
                                 (row.failed, row.changed, row.exit_code,
                                  row.calls, row.outcome,
                                  row.outcome.endswith('reboot required')),
                                 result)
                self.assertNotIn('rc', result)
                if row.words:
                    self.assertIn(row.words, result['msg'])
                if row.report == REPORT and not row.failed:
                    self.assertEqual(len(result['pending']), 1)
                    self.assertEqual(len(result['adapters']), 2)

    def test_records_that_cannot_be_kept_leave_the_outcome(self):
        folder = tempfile.mkdtemp(prefix='hbafw-module-')
        self.addCleanup(shutil.rmtree, folder)
        os.makedirs(os.path.join(folder, 'user'))
        os.chown(os.path.join(folder, 'user'), 65534, 65534)
        with open(os.path.join(folder, 'history.jsonl'), 'wb') as handle:
            handle.write(b'\xff torn\n')
        with mock.patch.object(basic.AnsibleModule, 'warn') as warn:
            result = self.run_module(REPORT, 1, 'updated', folder=folder,
                                     args={'metrics': '', 'reboot_signal':
                                           os.path.join(folder, 'user',
                                                        'reboot')})[0]
        self.assertEqual((result.get('failed'), result['outcome'],
                          result['reboot_required']),
                         (None, 'updated, reboot required', True), result)
        self.assertEqual([c[0][0][:36] for c in warn.call_args_list], [
            'the flash ended and its outcome stan',
            'the history held 1 unreadable lines;'])

    def test_bundle_placed_then_removed_unless_an_update_follows(self):
        remove = {'remove_bundle': True}
        rows = [
            # The update that follows needs it.
            Placed(REPORT, 'discovered', due=True, outcome='update pending',
                   left=True),
            Placed(CURRENT, 'discovered', outcome='already current'),
            Placed(REPORT, 'updated', check=True, outcome='would update'),
            Placed(REPORT, 'updated', outcome='updated, reboot required'),
            Placed(REPORT, 'updated', more={},
                   outcome='updated, reboot required', left=True),
            Placed(REPORT, 'discovered', more=dict(remove, bundle_digest='0'),
                   failed=True),
            # The flash outlasts its wait and runs in the folder: it stays.
            Placed(REPORT, 'updated', more=dict(remove, slow=2, wait=1),
                   outcome='still flashing', left=True),
            # Another run still uses the folder; a run's own use does not
            # keep it.
            Placed(CURRENT, 'discovered', more=dict(remove, run_id='r2',
                                                    others=['r1']),
                   outcome='already current', left=True),
            Placed(CURRENT, 'discovered', more=dict(remove, run_id='r2',
                                                    others=['r2']),
                   outcome='already current'),
        ]
        for row in rows:
            with self.subTest(state=row.state, check=row.check,
                              more=row.more):
                folder = tempfile.mkdtemp(prefix='hbafw-module-')
                self.addCleanup(shutil.rmtree, folder)
                more = dict(row.more)
                timing = dict((key, more.pop(key)) for key in ('slow', 'wait')
                              if key in more)
                for run in more.pop('others', []):
                    os.makedirs(folder + '/runs/bundles/bundle')
                    open(folder + '/runs/bundles/bundle/' + run, 'w').close()
                result = self.run_module(row.report, 1, row.state, row.check,
                                         folder=folder, packed=more,
                                         **timing)[0]
                self.assertEqual((bool(result.get('failed')),
                                  result['update_due'],
                                  result.get('outcome'),
                                  os.path.isdir(folder + '/bundle')),
                                 (row.failed, row.due, row.outcome, row.left),
                                 result)
                if row.failed:
                    self.assertIn('bundle corrupt: the archive arrived',
                                  result['msg'])

    def test_update_runs_only_from_the_verified_bundle(self):
        rows = [
            Verified({}, calls='/s\n'),
            Verified({'component': '0' * 64}, error='bundle corrupt: '
                     'component does not match the verified archive'),
            Verified(None, lambda bundle: os.chmod(bundle, 0o777),
                     error='unsafe server folder BUNDLE: group or others '
                     'may write it'),
        ]
        for digests, prepare, calls, error in rows:
            with self.subTest(digests=digests, error=error):
                folder = tempfile.mkdtemp(prefix='hbafw-module-')
                self.addCleanup(shutil.rmtree, folder)
                bundle = os.path.join(folder, 'bundle')
                os.mkdir(bundle)
                if prepare:
                    prepare(bundle)
                result, flashed = self.run_module(
                    REPORT, 1, 'updated', folder=folder, digests=digests)
                self.assertEqual((flashed, result['msg'].replace(
                    bundle, 'BUNDLE')[:len(error or '')] if error else
                    result.get('outcome')),
                    (calls, error or 'updated, reboot required'), result)

    def test_flash_outlasting_the_wait_is_picked_up_not_repeated(self):
        folder = tempfile.mkdtemp(prefix='hbafw-module-')
        self.addCleanup(shutil.rmtree, folder)
        rows = [
            Step('updated', True, None, 'still flashing'),
            Step('updated', False, 1, 'updated, reboot required', True),
            Step('discovered', False, 3, 'already current, reboot required',
                 True),
            Step('rebooted', False, 3, 'updated'),
            Step('updated', False, 3, 'already current'),
        ]
        for number, (state, changed, code, outcome, reboot) in \
                enumerate(rows):
            result, flashed = self.run_module(
                REPORT if number == 0 else None, 1, state, slow=2, wait=1,
                folder=folder)
            self.assertEqual((result['changed'], result.get('exit_code'),
                              result['outcome'], result['reboot_required'],
                              flashed), (changed, code, outcome, reboot,
                                         '/s\n'), (number, result))
            if number == 0:
                exit_code = os.path.join(folder, 'runs', 'component',
                                         'exit_code')
                for attempt in range(100):
                    if os.path.exists(exit_code):
                        break
                    time.sleep(0.1)


if __name__ == '__main__':
    unittest.main()
