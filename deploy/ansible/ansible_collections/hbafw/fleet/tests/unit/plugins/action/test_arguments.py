# Bad input to every module and action plugin ends in Ansible's own one-line
# message, the same from the action on the controller as from the module on
# the server, and never reaches the code behind either.

import shutil
import tempfile
import unittest
from unittest import mock

from ansible.playbook.task import Task

from ansible_collections.hbafw.fleet.plugins.action import (
    bundle as bundle_action, fleet_report as fleet_report_action,
    hbafw as hbafw_action)
from ansible_collections.hbafw.fleet.plugins.modules import (
    bundle, fleet_report, hbafw, hbafw_info)
from ansible_collections.hbafw.fleet.tests.unit.plugins.modules.test_hbafw \
    import run_in_process

STATES = 'value of state must be one of: %s, got: bogus'
TYPE = "argument '%s' is of type <class '%s'> and we were unable to convert"
REPORT = dict(dest='/nonexistent/report', run={}, hosts=[])

# module, its action (None: it has none), arguments, the message's start.
ROWS = [
    (hbafw, hbafw_action, dict(chdir='/b', state='bogus'),
     STATES % 'discovered, updated, rebooted'),
    (hbafw, hbafw_action, dict(chdir='/b', wait='soon'),
     TYPE % ('wait', 'str')),
    (hbafw, hbafw_action, dict(state='updated'),
     'missing required arguments: chdir'),
    (bundle, bundle_action, dict(dest='/b', state='bogus'),
     STATES % 'verified, present, absent'),
    (bundle, bundle_action, dict(src='/b.tar.gz'),
     'state is present but all of the following are missing: dest'),
    (fleet_report, fleet_report_action, dict(REPORT, hosts={'a': 1}),
     TYPE % ('hosts', 'dict')),
    (fleet_report, fleet_report_action, dict(run={}, hosts=[]),
     'missing required arguments: dest'),
    (hbafw_info, None, dict(history='many'), TYPE % ('history', 'str')),
    (hbafw_info, None, dict(status='bogus'), 'Unsupported parameters'),
]


def run_action(plugin, arguments):
    task = Task()
    task.args = arguments
    action = plugin.ActionModule(task, mock.MagicMock(), mock.MagicMock(),
                                 loader=None, templar=None,
                                 shared_loader_obj=None)
    action._execute_module = mock.Mock(side_effect=AssertionError('ran'))
    return action.run(task_vars={})


class BadInputTest(unittest.TestCase):
    def test_ansible_message_never_a_traceback(self):
        for module, action, arguments, message in ROWS:
            home = tempfile.mkdtemp(prefix='hbafw-arguments-')
            self.addCleanup(shutil.rmtree, home)
            results = [('module', run_in_process(
                {'ANSIBLE_MODULE_ARGS': arguments}, home, module))]
            if action is not None:
                results.append(('action', run_action(action, arguments)))
            for side, result in results:
                with self.subTest(side=side, module=module.__name__,
                                  arguments=arguments):
                    self.assertIs(result.get('failed'), True, result)
                    self.assertTrue(result['msg'].startswith(message),
                                    result['msg'])
                    self.assertNotIn('exception', result)


if __name__ == '__main__':
    unittest.main()
