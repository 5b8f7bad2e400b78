# Action of the fleet_report module: the report is written on the controller
# anyway, so it is written here, in Ansible's own process, sparing the
# rollout a module run after every step of every batch.

from __future__ import absolute_import, division, print_function

import sys

from ansible.plugins.action import ActionBase
from ansible.utils.display import Display
from ansible_collections.hbafw.fleet.plugins.module_utils import (
    report_folder)

__metaclass__ = type


class ActionModule(ActionBase):
    TRANSFERS_FILES = False

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        _, args = self.validate_argument_spec(
            argument_spec=report_folder.ARGUMENTS)
        try:
            # Ansible's own command line, for the command that goes on.
            result.update(report_folder.write_run(argv=sys.argv, **args))
        except report_folder.RolloutRunning as error:
            result.update(failed=True, msg=str(error))
            return result
        except (OSError, ValueError, KeyError) as error:
            result.update(failed=True,
                          msg='cannot write the report: %s' % error)
            return result
        result['changed'] = True
        if result.get('closing'):
            # As it is, not as JSON: the command in it is to be copied.
            Display().display(result['closing'])
        return result
