# The hbafw module run as Ansible runs it (arguments in a JSON file), over a
# stand-in component script in a temporary bundle, so the paths through the
# module are covered without SSH: a missing report, check mode, force, the
# run lock and the flash engine's own exit codes.

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from test_component import REPORT

MODULE = 'ansible_collections.hbafw.fleet.plugins.modules.hbafw'
# The stand-in writes the report kept in its folder (if any) for /d, and for
# an update records its arguments, prints what "say" holds and exits with
# the code in "code".
COMPONENT = '''#!/bin/sh
here=$(dirname "$0")
if [ "$1" = /d ]; then
    [ -f "$here/report" ] && cp "$here/report" "$2"
    [ -f "$here/report" ] || echo "Generating self-discovery XML...FAILED!"
    exit 3
fi
echo "$*" >> "$here/calls"
cat "$here/say" 2>/dev/null
exit "$(cat "$here/code")"
'''
CURRENT = REPORT.replace('"upgrade"', '"rewrite"')
LOCK = 'ERROR! : Another firmware update is running on this machine.\n'


class ModuleRunTest(unittest.TestCase):
    def run_module(self, report, code, state, check=False, force=False,
                   say=''):
        folder = tempfile.mkdtemp(prefix='hbafw-module-')
        self.addCleanup(shutil.rmtree, folder)
        bundle = os.path.join(folder, 'bundle')
        os.mkdir(bundle)
        files = {'component': COMPONENT, 'code': str(code), 'say': say}
        if report is not None:
            files['report'] = report
        for name, text in files.items():
            with open(os.path.join(bundle, name), 'w') as handle:
                handle.write(text)
        os.chmod(os.path.join(bundle, 'component'), 0o755)
        args = os.path.join(folder, 'args.json')
        with open(args, 'w') as handle:
            json.dump({'ANSIBLE_MODULE_ARGS': {
                'executable': './component', 'chdir': bundle,
                'state': state, 'force': force, '_ansible_check_mode': check,
                '_ansible_remote_tmp': folder,
                '_ansible_keep_remote_files': False}}, handle)
        done = subprocess.run([sys.executable, '-m', MODULE, args],
                              stdout=subprocess.PIPE, text=True, timeout=60,
                              env=dict(os.environ, HOME=folder))
        flashed = ''
        if os.path.exists(os.path.join(bundle, 'calls')):
            with open(os.path.join(bundle, 'calls')) as handle:
                flashed = handle.read()
        return json.loads(done.stdout), flashed

    def test_results(self):
        # report, update exit code, state, check, force, say:
        # failed, changed, exit_code, update call, words in msg
        rows = [
            (None, 1, 'updated', False, False, '',
             True, False, 3, '', 'discovery wrote no report'),
            ('<x/>', 1, 'discovered', False, False, '',
             True, False, 3, '', 'not <tellin_rom_discovery>'),
            (REPORT, 1, 'discovered', False, False, '',
             False, False, 3, '', None),
            (REPORT, 1, 'updated', True, False, '',
             False, True, 3, '', None),
            (CURRENT, 1, 'updated', True, False, '',
             False, False, 3, '', None),
            (CURRENT, 1, 'updated', True, True, '',
             False, True, 3, '', None),
            (REPORT, 1, 'updated', False, False, '',
             False, True, 1, '/s\n', 'exit code 1'),
            (CURRENT, 1, 'updated', False, True, '',
             False, True, 1, '/s /f\n', 'exit code 1'),
            (CURRENT, 3, 'updated', False, False, '',
             False, False, 3, '/s\n', 'exit code 3'),
            (REPORT, 7, 'updated', False, False, LOCK,
             True, False, 7, '/s\n', 'another firmware update is running'),
            (REPORT, 12, 'updated', False, False, '',
             True, False, 12, '/s\n', 'exit code 12: passed on'),
        ]
        for (report, code, state, check, force, say,
             failed, changed, exit_code, calls, words) in rows:
            with self.subTest(report=report and report[:20], code=code,
                              state=state, check=check, force=force):
                result, flashed = self.run_module(report, code, state,
                                                  check, force, say)
                self.assertEqual((bool(result.get('failed')),
                                  result['changed'], result['exit_code'],
                                  flashed),
                                 (failed, changed, exit_code, calls), result)
                self.assertNotIn('rc', result)
                if words:
                    self.assertIn(words, result['msg'])
                if report == REPORT and not failed:
                    self.assertEqual(len(result['pending']), 1)
                    self.assertEqual(len(result['adapters']), 2)


if __name__ == '__main__':
    unittest.main()
