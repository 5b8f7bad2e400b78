# Action of the bundle module: for state=present it sends the archive to the
# server as one file into the task's temporary folder, then runs the module
# there, so the bundle costs one transfer and one module run per server.

from __future__ import absolute_import, division, print_function

from ansible.errors import AnsibleAction, AnsibleActionFail
from ansible.plugins.action import ActionBase

__metaclass__ = type


class ActionModule(ActionBase):
    # Only state=present sends a file; the others need no temporary folder.
    TRANSFERS_FILES = False

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        args = dict(self._task.args)
        sending = args.get('state', 'present') == 'present'
        try:
            if sending and not self._task.check_mode:
                if not args.get('src'):
                    raise AnsibleActionFail('src is required')
                self._make_tmp_path()
                shell = self._connection._shell
                archive = shell.join_path(shell.tmpdir, 'bundle.tar.gz')
                self._transfer_file(args['src'], archive)
                self._fixup_perms2((shell.tmpdir, archive))
                args['archive'] = archive
            elif sending:
                args['archive'] = args.get('src')
            result.update(self._execute_module(
                module_name='hbafw.fleet.bundle', module_args=args,
                task_vars=task_vars))
        except AnsibleAction as error:
            result.update(error.result)
        finally:
            self._remove_tmp_path(self._connection._shell.tmpdir)
        return result
