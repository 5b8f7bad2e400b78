# The report folder on the controller: one run's files in REPORT_DIR/RUN_ID/,
# the latest link, the fleet files merged across runs, and the lock that keeps
# a second rollout out while one runs. Nothing else is removed: outside the
# run's folder only the latest link, the two fleet files and the lock change.

from __future__ import absolute_import, division, print_function

import errno
import getpass
import json
import os
import shlex
import socket
import time

from ansible_collections.hbafw.fleet.plugins.module_utils.atomic_file import (
    read_json, replace_file, write_json)
from ansible_collections.hbafw.fleet.plugins.module_utils.fleet_page import (
    render_fleet_html, render_html)
from ansible_collections.hbafw.fleet.plugins.module_utils.fleet_rows import (
    build_report, merge_fleet, render_csv, render_json, retry_hosts,
    server_files, stops_after)
from ansible_collections.hbafw.fleet.plugins.module_utils.outcomes import (
    STARTED)

__metaclass__ = type

ARGUMENTS = dict(
    dest=dict(type='path', required=True),
    run=dict(type='dict', required=True),
    hosts=dict(type='list', elements='str', required=True),
    records=dict(type='dict', default={}),
    starting=dict(type='list', elements='str', default=[]),
    batch=dict(type='list', elements='str', default=[]),
    final=dict(type='bool', default=False),
)
STATE = 'records.json'
LOCK = 'rollout.lock'
# The report is the operator's to read, and whoever else may read the folder.
SHARED = 0o644
LOCKED = ('another rollout is running into %s: run %s by %s (process %s on '
          '%s) since %s; this one stops before touching any server. If that '
          'process is gone, remove %s')
DONE = 'Rollout %s finished: no server needs another run.'
NOT_DONE = ('Rollout %s left %d of %d servers not updated (%s); to go on: %s')
# The read-only inventory's last message.
READ_DONE = 'Inventory %s finished: every server was read.'
READ_NOT_DONE = ('Inventory %s left %d of %d servers not read (%s); to read '
                 'them: %s')
# A rehearsal's twins are gone when it ends; its own command would reach the
# operator's inventory, so it offers none.
REHEARSED = ('Rehearsal %s on twins of the fleet: %d of %d servers would not '
             'be updated (%s); to rehearse again, capture the servers and run '
             'scripts/rehearse')
REHEARSED_DONE = ('Rehearsal %s on twins of the fleet: every server would be '
                  'updated or is current; to rehearse again, run '
                  'scripts/rehearse')
LIMITS = ('-l', '--limit')
UPDATE_STARTED = dict(outcome=STARTED, failed=True,
                      msg='no outcome reached the controller (yet)')


class RolloutRunning(Exception):
    """Another rollout holds the report folder."""


def write(path, text):
    replace_file(path, text, SHARED)


def merge_run(folder, hosts, records):
    """This call's servers and records added to what the run holds."""
    state = read_json(os.path.join(folder, STATE), dict(hosts=[], records={}))
    for host in hosts:
        if host not in state['hosts']:
            state['hosts'].append(host)
        state['records'].setdefault(host, {}).update(records.get(host) or {})
    write_json(os.path.join(folder, STATE), state, SHARED)
    return state['hosts'], state['records']


def point_latest(dest, run_id):
    link = os.path.join(dest, 'latest')
    if os.path.exists(link) and not os.path.islink(link):
        raise OSError('%s is not a link; it is left as it is' % link)
    temporary = link + '.new'
    if os.path.islink(temporary):
        os.unlink(temporary)
    os.symlink(run_id, temporary)
    os.rename(temporary, link)


def process_start(pid):
    """The start time of a process, which tells it from a later one with
    the same number; None when there is no such process."""
    try:
        with open('/proc/%d/stat' % pid) as handle:
            return handle.read().rsplit(')', 1)[1].split()[19]
    except (IOError, OSError, IndexError, ValueError):
        return None


def alive(pid, start):
    now = process_start(pid)
    return now is not None and now == start


def take_lock(dest, run_id, pid):
    """Holds the report folder for the run, whose controller process is pid;
    a lock whose process is gone from this host is taken over. Raises
    RolloutRunning."""
    path = os.path.join(dest, LOCK)
    holder = '%s@%s' % (getpass.getuser(), socket.gethostname())
    mine = dict(run=run_id, holder=holder,
                pid=pid, pid_start=process_start(pid),
                since=time.strftime('%Y-%m-%d %H:%M:%S %Z'))
    for _attempt in range(2):
        try:
            descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL
                                 | os.O_NOFOLLOW, SHARED)
        except OSError as error:
            if error.errno != errno.EEXIST:
                raise
            held = read_json(path, {})
            if held.get('run') == run_id:
                return
            if held.get('holder', '').endswith('@' + socket.gethostname()) \
                    and not alive(held.get('pid', 0), held.get('pid_start')):
                os.remove(path)
                continue
            raise RolloutRunning(LOCKED % (
                dest, held.get('run'), held.get('holder'), held.get('pid'),
                held.get('holder', '').rpartition('@')[2],
                held.get('since'), path))
        with os.fdopen(descriptor, 'w') as handle:
            json.dump(mine, handle)
        return


def release_lock(dest, run_id):
    path = os.path.join(dest, LOCK)
    if read_json(path, {}).get('run') == run_id:
        os.remove(path)


def resume_command(argv, retry):
    """The run's own command, its server selection replaced by the retry
    list."""
    words, skip = [os.path.basename(argv[0])], False
    for word in argv[1:]:
        if skip:
            skip = False
        elif word in LIMITS:
            skip = True
        elif not word.startswith(('--limit=', '-l')):
            words.append(word)
    return ' '.join(shlex.quote(word) for word in words
                    + ['--limit', '@' + retry])


def closing(report, retry, retry_file, argv):
    """The run's last message: how many servers were not updated (those of
    the retry list), and the exact command that goes on."""
    run_id = report['run'].get('id', '')
    left = [server['outcome'] for server in report['servers']
            if server['server'] in retry]
    reading = report['run'].get('kind') == 'inventory'
    if report['run'].get('rehearsal'):
        if not left:
            return REHEARSED_DONE % run_id
        return REHEARSED % (run_id, len(left), len(report['servers']),
                            counts_of(left))
    if not left:
        return (READ_DONE if reading else DONE) % run_id
    return (READ_NOT_DONE if reading else NOT_DONE) % (
        run_id, len(left), len(report['servers']), counts_of(left),
        resume_command(argv, retry_file))


def counts_of(left):
    return ', '.join('%s %d' % (outcome, left.count(outcome))
                     for outcome in sorted(set(left), key=left.index))


def write_run(dest, run, hosts, records, starting=(), batch=(), final=False,
              pid=None, argv=('ansible-playbook',)):
    """Writes the run's report (adding to what earlier calls of the run
    wrote) and returns the summary, the folder, the page, the retry list,
    whether the run ended with this write and, if so, its last message.
    starting: servers whose update begins now; pid: the controller process
    that holds the report folder meanwhile.
    Raises RolloutRunning, OSError, ValueError or KeyError."""
    dest = os.path.abspath(dest)
    run = dict(run, ended=time.strftime('%Y-%m-%d %H:%M:%S %Z'))
    run_id = str(run.get('id', ''))
    if not run_id or run_id != os.path.basename(run_id) or run_id[0] == '.':
        raise ValueError('run id %r cannot name a folder' % run_id)
    folder = os.path.join(dest, run_id)
    os.makedirs(dest, exist_ok=True)
    take_lock(dest, run_id, os.getppid() if pid is None else pid)
    os.makedirs(os.path.join(folder, 'logs'), exist_ok=True)
    records = dict(records or {})
    for host in starting:
        records[host] = dict(records.get(host) or {}, update=UPDATE_STARTED)
    hosts, records = merge_run(folder, hosts, records)
    for record in records.values():
        record['check_mode'] = run.get('check_mode', False)
    report = build_report(hosts, records, run)
    if final or stops_after(report, batch, float(run.get('threshold', 0))):
        run['finished'] = True
        report = build_report(hosts, records, run)
    for host in hosts:
        for name, text in server_files(host, records[host]).items():
            write(os.path.join(folder, 'logs', name), text)
    retry = retry_hosts(report)
    write(os.path.join(folder, 'report.json'), render_json(report))
    write(os.path.join(folder, 'report.csv'), render_csv(report))
    write(os.path.join(folder, 'report.html'), render_html(report))
    write(os.path.join(folder, 'retry.txt'),
          ''.join(host + '\n' for host in retry))
    point_latest(dest, run_id)
    if not run.get('check_mode') and not run.get('rehearsal'):
        fleet_path = os.path.join(dest, 'fleet.json')
        fleet = merge_fleet(read_json(fleet_path, {}), report, run['ended'])
        write(fleet_path, render_json(fleet))
        write(os.path.join(dest, 'fleet.html'), render_fleet_html(fleet))
    result = dict(summary=report['summary'], folder=folder,
                  html=os.path.join(folder, 'report.html'), retry=retry,
                  finished=bool(run.get('finished')),
                  servers=report['servers'])
    if result['finished']:
        result['closing'] = closing(report, retry, os.path.join(
            folder, 'retry.txt'), argv)
        release_lock(dest, run_id)
    return result
