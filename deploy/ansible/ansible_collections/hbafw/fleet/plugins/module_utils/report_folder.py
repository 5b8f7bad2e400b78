# The report folder on the controller: one run's files in REPORT_DIR/RUN_ID/,
# the latest link and the fleet files merged across runs. Nothing is removed:
# outside the run's folder only the latest link and the two fleet files are
# replaced.

from __future__ import absolute_import, division, print_function

import json
import os
import time

from ansible_collections.hbafw.fleet.plugins.module_utils.fleet_report import (
    build_report, merge_fleet, render_csv, render_fleet_html, render_html,
    render_json, retry_hosts, server_files)

__metaclass__ = type

ARGUMENTS = dict(
    dest=dict(type='path', required=True),
    run=dict(type='dict', required=True),
    hosts=dict(type='list', elements='str', required=True),
    records=dict(type='dict', default={}),
)
STATE = 'records.json'


def write(path, text):
    with open(path + '.new', 'w') as handle:
        handle.write(text)
    os.rename(path + '.new', path)


def read_json(path, empty):
    if not os.path.exists(path):
        return empty
    with open(path) as handle:
        return json.load(handle)


def merge_run(folder, hosts, records):
    """This call's servers and records added to what the run holds."""
    state = read_json(os.path.join(folder, STATE), dict(hosts=[], records={}))
    for host in hosts:
        if host not in state['hosts']:
            state['hosts'].append(host)
        state['records'].setdefault(host, {}).update(records.get(host) or {})
    write(os.path.join(folder, STATE), json.dumps(state))
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


def write_run(dest, run, hosts, records):
    """Writes the run's report (adding to what earlier calls of the run
    wrote) and returns the summary, the folder, the page and the retry
    list. Raises OSError, ValueError or KeyError."""
    dest = os.path.abspath(dest)
    run = dict(run, ended=time.strftime('%Y-%m-%d %H:%M:%S %Z'))
    run_id = str(run.get('id', ''))
    if not run_id or run_id != os.path.basename(run_id) or run_id[0] == '.':
        raise ValueError('run id %r cannot name a folder' % run_id)
    folder = os.path.join(dest, run_id)
    os.makedirs(os.path.join(folder, 'logs'), exist_ok=True)
    hosts, records = merge_run(folder, hosts, records or {})
    for record in records.values():
        record['check_mode'] = run.get('check_mode', False)
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
    if not run.get('check_mode'):
        fleet_path = os.path.join(dest, 'fleet.json')
        fleet = merge_fleet(read_json(fleet_path, {}), report, run['ended'])
        write(fleet_path, render_json(fleet))
        write(os.path.join(dest, 'fleet.html'), render_fleet_html(fleet))
    return dict(summary=report['summary'], folder=folder,
                html=os.path.join(folder, 'report.html'), retry=retry)
