# Action of the fleet_report module: the report is written on the controller
# anyway, so it is written here, in Ansible's own process, sparing the
# rollout a module run after every step of every batch.

from __future__ import absolute_import, division, print_function

from ansible.plugins.action import ActionBase
from ansible_collections.hbafw.fleet.plugins.module_utils import (
    report_folder)

__metaclass__ = type


class ActionModule(ActionBase):
    TRANSFERS_FILES = False

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        args = self.validate_argument_spec(
            argument_spec=report_folder.ARGUMENTS)[1]
        try:
            result.update(report_folder.write_run(**args))
        except (OSError, ValueError, KeyError) as error:
            result.update(failed=True,
                          msg='cannot write the report: %s' % error)
            return result
        result['changed'] = True
        return result
