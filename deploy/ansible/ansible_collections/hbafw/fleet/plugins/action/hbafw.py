# Action of the hbafw module: with bundle it hands the bundle archive to the
# module as one value, so placing the bundle and the discovery from it take
# one SSH session per server; with bundle_url the server fetches the archive
# itself and only the digest (and the keyring, when given) goes along. It
# returns the step's record for the fleet report: a failure with no verdict
# of the module is told from a lost server by a bare command, and a restart
# that did not complete is recorded without running anything. With record,
# it also keeps that record in the server's fact hbafw_records, which the
# report reads; and with restart_with, an update whose firmware waits for a
# restart the policy calls for restarts the server (ansible.builtin.reboot)
# and checks it: no task of its own per server and step.

from __future__ import absolute_import, division, print_function

import signal

from ansible.errors import AnsibleConnectionFailure
from ansible.executor.task_executor import TaskTimeoutError, task_timeout
from ansible.module_utils.parsing.convert_bool import boolean
from ansible.plugins.action import ActionBase
from ansible_collections.hbafw.fleet.plugins.modules.hbafw import ARGUMENTS
from ansible_collections.hbafw.fleet.plugins.plugin_utils.archive import (
    archive_content)
from ansible_collections.hbafw.fleet.plugins.plugin_utils.arguments import (
    checked_arguments)
from ansible_collections.hbafw.fleet.plugins.plugin_utils.records import (
    DISCOVERY, STEPS, UPDATE, after_restart, kept_records, needs_probe, record,
    restart_due, restart_lost)

__metaclass__ = type

# The role's wait before it was named for what it bounds.
OLD_WAIT = 'hbafw_async_timeout'
OLD_WAIT_USED = ('hbafw_async_timeout is deprecated: it bounds the wait for '
                 'a flash, which is not async; set hbafw_flash_timeout')
RECORDS = 'hbafw_records'
REBOOT = 'ansible.builtin.reboot'
# What of an update's arguments the check after its restart does not take.
UPDATE_ONLY = ('force', 'wait', 'bundle_digests')
# Ansible's own words for a task that outlasts its timeout.
TIMED_OUT = ('The %s action failed to execute in the expected time frame '
             '(%d) and was terminated')


class ActionModule(ActionBase):
    TRANSFERS_FILES = False

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        if checked_arguments(self, result, argument_spec=ARGUMENTS) is None:
            return result
        args = dict(self._task.args)
        kind = args.pop('record', None)
        reboot = args.pop('reboot_policy', 'never')
        restart_with = args.pop('restart_with', None)
        records = ((task_vars or {}).get('ansible_facts') or {}).get(RECORDS)
        # A task timeout ends the step here, not in Ansible, so that the
        # record is kept all the same.
        ran = True
        try:
            ran = self.run_step(result, args, task_vars, kind, records or {})
            if restart_with and restart_due(
                    result, reboot, self._play_context.check_mode):
                self.restart(result, args, restart_with, task_vars)
                ran = True
        except TaskTimeoutError:
            kept(result, self.timed_out())
        if kind:
            # The check after a restart passes no force: the update's stands.
            force = args['force'] if 'force' in args else \
                (records or {}).get('force', False)
            result['ansible_facts'] = {RECORDS: kept_records(
                records, kind, result, boolean(force), reboot)}
        if not ran:
            result['changed'] = False
        return result

    def run_step(self, result, args, task_vars, kind, records):
        flashed, restart = args.pop('flashed', None), args.pop('restart', None)
        state = args.get('state', 'discovered')
        discovery = records.get(DISCOVERY) or {}
        if kind == UPDATE and state == 'updated' \
                and not discovery.get('update_due'):
            # Batched only for its restart: the discovery stands as the
            # update, and nothing runs.
            kept(result, discovery)
            return False
        if state == 'rebooted' and flashed and restart_lost(restart or {}):
            kept(result, after_restart(flashed, restart))
            return True
        found = self.step(with_archive(args), task_vars)
        if state == 'rebooted' and flashed:
            kept(result, after_restart(flashed, restart or {}, found))
        else:
            kept(result, record(found, STEPS[state]))
        if state == 'updated' and OLD_WAIT in (task_vars or {}):
            result.setdefault('deprecations', []).append(dict(
                msg=OLD_WAIT_USED, version='2.0.0',
                collection_name='hbafw.fleet'))
        return True

    def restart(self, result, args, restart_with, task_vars):
        """The update in result restarted and checked: its record becomes
        the check's, or a lost server's at "restart"."""
        flashed = dict(result)
        restart = bounded(restart_with['timeout'], REBOOT,
                          lambda: self.reboot(restart_with['reboot'],
                                              task_vars))
        if restart_lost(restart):
            kept(result, after_restart(flashed, restart))
            return
        check = dict((key, value) for key, value in args.items()
                     if key not in UPDATE_ONLY)
        check.update(restart_with.get('check') or {}, state='rebooted')
        with_archive(check)
        found = bounded(restart_with['check_timeout'], self._task.action,
                        lambda: self.step(check, task_vars))
        kept(result, after_restart(flashed, restart, found))

    def reboot(self, reboot_args, task_vars):
        """ansible.builtin.reboot's result on this server; a lost server's
        when the connection fails."""
        task = self._task.copy()
        task.args = dict(reboot_args)
        task.action = REBOOT
        action = self._shared_loader_obj.action_loader.get(
            REBOOT, task=task, connection=self._connection,
            play_context=self._play_context, loader=self._loader,
            templar=self._templar, shared_loader_obj=self._shared_loader_obj)
        try:
            return action.run(task_vars=task_vars)
        except AnsibleConnectionFailure as error:
            return dict(unreachable=True, failed=True, msg=str(error))
        finally:
            try:
                action.cleanup()
            except AnsibleConnectionFailure:
                pass

    def step(self, args, task_vars):
        """The module's result, or a lost server's when the server stopped
        answering before the step ended."""
        try:
            result = self._execute_module(
                module_name='hbafw.fleet.hbafw', module_args=args,
                task_vars=task_vars, wrap_async=self._task.async_val)
            if needs_probe(result):
                self._low_level_execute_command('true')
            # Removed here, not after the step: a server lost by then has
            # lost the step too.
            self._remove_tmp_path(self._connection._shell.tmpdir)
        except AnsibleConnectionFailure as error:
            result = dict(unreachable=True, failed=True, msg=str(error))
        except TaskTimeoutError:
            result = self.timed_out()
        return result

    def timed_out(self):
        return dict(failed=True, msg=TIMED_OUT % (self._task.action,
                                                  self._task.timeout))

    def cleanup(self, force=False):
        # A lost server's temporary folder cannot be removed; the result
        # already says it is lost, and an error here would replace it.
        try:
            super(ActionModule, self).cleanup(force)
        except AnsibleConnectionFailure:
            pass


def with_archive(args):
    """args with what the module gets of the controller's files: the
    pushed archive, or in pull mode the keyring, when given."""
    if args.get('bundle_url'):
        if args.get('bundle_keyring'):
            args['bundle_keyring_content'] = archive_content(
                args['bundle_keyring'], 'keyring')
    elif args.get('bundle'):
        args['bundle_content'] = archive_content(args['bundle'])
    return args


def bounded(seconds, action, call):
    """call's result, or Ansible's failure of a task that outlasts its
    timeout once seconds have passed."""
    seconds = int(seconds or 0)
    if seconds <= 0:
        return call()
    previous = signal.signal(signal.SIGALRM, task_timeout)
    signal.alarm(seconds)
    try:
        return call()
    except TaskTimeoutError:
        return dict(failed=True, msg=TIMED_OUT % (action, seconds))
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)


def kept(result, step_record):
    """The task's result: the step's record, whose failure stays in
    server_failed when the caller's failed_when hides it."""
    result.update(step_record)
    result['server_failed'] = bool(step_record.get('failed'))
    return result
