# Action of the fleet_report module: the report is written on the controller
# anyway, so it is written here, in Ansible's own process, sparing the
# rollout a module run after every step of every batch. It also names the
# servers the update batches take and gives each server that needs a person
# its one line; a write after the discoveries that leaves no server to update
# ends the run.

from __future__ import absolute_import, division, print_function

import sys

from ansible.plugins.action import ActionBase
from ansible.utils.display import Display
from ansible_collections.hbafw.fleet.plugins.module_utils import (
    report_folder)
from ansible_collections.hbafw.fleet.plugins.plugin_utils.arguments import (
    checked_arguments)
from ansible_collections.hbafw.fleet.plugins.plugin_utils.records import (
    eligible, failures)

__metaclass__ = type


class ActionModule(ActionBase):
    TRANSFERS_FILES = False

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        args = checked_arguments(self, result,
                                 argument_spec=report_folder.ARGUMENTS)
        if args is None:
            return result
        batches = eligible(args['hosts'], args['records'],
                           bool(args['run'].get('check_mode')))
        discovered = any('discovery' in (record or {})
                         for record in args['records'].values())
        if discovered and not batches and not args['batch'] \
                and not args['starting']:
            args['final'] = True
        try:
            # Ansible's own command line, for the command that goes on.
            written = report_folder.write_run(argv=sys.argv, **args)
        except report_folder.RolloutRunning as error:
            result.update(failed=True, msg=str(error))
            return result
        except (OSError, ValueError, KeyError) as error:
            result.update(failed=True,
                          msg='cannot write the report: %s' % error)
            return result
        servers = written.pop('servers')
        result.update(written, changed=True, eligible=batches,
                      failures=failures(servers, written['folder']))
        if result.get('closing'):
            # As it is, not as JSON: the command in it is to be copied.
            Display().display(result['closing'])
        return result
