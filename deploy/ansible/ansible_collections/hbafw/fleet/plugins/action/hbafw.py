# Action of the hbafw module: with bundle it hands the bundle archive to the
# module as one value, so placing the bundle and the discovery from it take
# one SSH session per server. With bundle_url the server fetches the archive
# itself and only the digest (and the keyring, when given) goes along.

from __future__ import absolute_import, division, print_function

from ansible.plugins.action import ActionBase
from ansible_collections.hbafw.fleet.plugins.action.bundle import (
    archive_content)

__metaclass__ = type


class ActionModule(ActionBase):
    TRANSFERS_FILES = False

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        args = dict(self._task.args)
        if args.get('bundle_url'):
            if args.get('bundle_keyring'):
                args['bundle_keyring_content'] = archive_content(
                    args['bundle_keyring'], 'keyring')
        elif args.get('bundle'):
            args['bundle_content'] = archive_content(args['bundle'])
        result.update(self._execute_module(
            module_name='hbafw.fleet.hbafw', module_args=args,
            task_vars=task_vars, wrap_async=self._task.async_val))
        return result
