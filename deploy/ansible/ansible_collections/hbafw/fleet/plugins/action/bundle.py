# Action of the bundle module: for state=present it reads the archive on the
# controller and hands it to the module as one value, so the bundle reaches
# each server as one archive in the module's own (pipelined) connection: one
# SSH session per server, no temporary folder, no second transfer.

from __future__ import absolute_import, division, print_function

from ansible.plugins.action import ActionBase
from ansible_collections.hbafw.fleet.plugins.modules.bundle import (
    ARGUMENTS, REQUIRED_IF)
from ansible_collections.hbafw.fleet.plugins.plugin_utils.archive import (
    archive_content)
from ansible_collections.hbafw.fleet.plugins.plugin_utils.arguments import (
    checked_arguments)

__metaclass__ = type


class ActionModule(ActionBase):
    TRANSFERS_FILES = False

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        if checked_arguments(self, result, argument_spec=ARGUMENTS,
                             required_if=REQUIRED_IF) is None:
            return result
        args = dict(self._task.args)
        if args.get('state', 'present') == 'present' \
                and not self._task.check_mode:
            args['content'] = archive_content(args.get('src'))
        result.update(self._execute_module(
            module_name='hbafw.fleet.bundle', module_args=args,
            task_vars=task_vars))
        return result
