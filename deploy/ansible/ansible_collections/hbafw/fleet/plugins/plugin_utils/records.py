# What the rollout keeps of each server's steps, decided on the controller:
# the record of a server lost at a step, the update's record after a restart,
# which servers the update batches take, and the one line that says why a
# server failed and where its log is. Plain data in and out; the actions and
# the role call these, nothing here talks to a server.

from __future__ import absolute_import, division, print_function

from ansible_collections.hbafw.fleet.plugins.module_utils.outcomes import (
    CHECK_NOT_RUN, NEEDS_PERSON, NOT_VERIFIED, UNREACHABLE)

__metaclass__ = type

DISCOVERY, UPDATE, RESTART = 'discovery', 'update', 'restart'
CHECK = 'check after the restart'
# The step each state of the hbafw module is.
STEPS = {'discovered': DISCOVERY, 'updated': UPDATE, 'rebooted': CHECK}
# What is known of a server lost at each step.
LOST_AFTER = {UPDATE: '; the flash may have run there',
              RESTART: '; flashed and verified; activation unconfirmed',
              CHECK: '; flashed and verified; activation unconfirmed'}
LOST = 'contact lost at "%s": %s%s'
# The update's own results that the check after the restart must not hide.
FROM_UPDATE = ('changed', 'exit_code', 'adapters', 'pending', 'stdout')
FAILURE = '%s: %s (log: %s)'
CHECK_FAILED = ('restarted, but the check after the restart could not run '
                '(%s); a re-run checks again')


def needs_probe(result):
    """Whether a failed result may come from a lost server: the module gave
    no verdict of its own, as when the connection fails while its code is
    copied over."""
    return bool(result.get('failed')) and 'outcome' not in result \
        and 'update_due' not in result


def record(result, step):
    """result as kept for the report: a server that stopped answering is
    "unreachable" at step, its message saying what may have happened."""
    kept = dict(result)
    # Kept as the outcome only: a result that says unreachable makes Ansible
    # give the server up before the report hears of it.
    if kept.pop('unreachable', False):
        kept.update(outcome=UNREACHABLE, step=step, failed=True,
                    msg=LOST % (step, result.get('msg') or '',
                                LOST_AFTER.get(step, '')))
    return kept


def restart_lost(restart):
    """Whether the restart itself failed or lost the server."""
    return bool(restart.get('failed') or restart.get('unreachable'))


def after_restart(flashed, restart, checked=None):
    """The update's record once the restart is over: lost at "restart" when
    the restart did not complete, else the check's verdict with what the
    update flashed and both logs."""
    if restart_lost(restart):
        return record(dict(flashed, unreachable=True,
                           msg=restart.get('msg') or ''), RESTART)
    merged = dict(flashed)
    checked = checked or {}
    if checked.get('failed') and not checked.get('unreachable') and \
            checked.get('outcome') != NOT_VERIFIED:
        # Whether the firmware runs is not known: not "reboot required".
        checked = dict(checked, outcome=CHECK_NOT_RUN,
                       reboot_required=False, msg=CHECK_FAILED % (
                           checked.get('msg') or 'no message'))
    merged.update(checked)
    merged.update((key, flashed.get(key)) for key in FROM_UPDATE)
    merged.update(adapters_after=checked.get('adapters'),
                  log=(flashed.get('log') or '') + (checked.get('log') or ''))
    return record(merged, CHECK)


def kept_records(records, kind, result, force, reboot):
    """The server's records once a step's result is kept as kind: a
    discovery starts them afresh (a fact cache may hold an earlier run's);
    failed is the step's own failure, which the role's failed_when hides
    from the result."""
    entry = dict((key, value) for key, value in result.items()
                 if key != 'ansible_facts' and not key.startswith('_ansible'))
    entry['failed'] = bool(result.get('server_failed',
                                      result.get('failed')))
    kept = {} if kind == DISCOVERY else dict(records or {})
    kept.update({kind: entry, 'force': force, 'reboot': reboot})
    return kept


def restart_due(result, policy, check_mode):
    """Whether the update's result calls for a restart under the policy
    (hbafw_reboot): never in a check, after a failure or while a flash goes
    on."""
    if check_mode or result.get('server_failed') or \
            result.get('still_flashing'):
        return False
    return policy == 'always' or (policy == 'if_required'
                                  and bool(result.get('reboot_required')))


def batched(records, check_mode):
    """Whether the update batches take a server: something to flash, or,
    when the rollout restarts servers, flashed firmware that waits for a
    restart (a picked-up flash, an earlier run)."""
    discovery = records.get(DISCOVERY) or {}
    if discovery.get('update_due'):
        return True
    return (not check_mode and records.get('reboot', 'never') != 'never'
            and not discovery.get('failed')
            and not discovery.get('still_flashing')
            and bool(discovery.get('reboot_required')))


def eligible(hosts, records, check_mode):
    """The servers the update batches take, in the inventory's order."""
    return [host for host in hosts
            if batched(records.get(host) or {}, check_mode)]


def failures(servers, folder):
    """{server: its one line} for every server of the report whose outcome
    needs a person: the outcome, the message and the log of its last
    step in the run's folder."""
    lines = {}
    for server in servers:
        if server['outcome'] not in NEEDS_PERSON:
            continue
        logs = [name for name in server.get('logs') or []
                if name.endswith('.log')]
        lines[server['server']] = FAILURE % (
            server['outcome'],
            ' '.join((server.get('message') or '').split()) or 'no message',
            '%s/logs/%s' % (folder, logs[-1]) if logs else 'none')
    return lines
