#!/usr/bin/python
# Writes one run's fleet report on the controller into REPORT_DIR/RUN_ID/,
# points REPORT_DIR/latest at it and merges the run into REPORT_DIR/fleet.json
# and fleet.html. It talks to no server and deletes nothing: outside the run's
# folder it only replaces the latest link and the two fleet files.

from __future__ import absolute_import, division, print_function

import json
import os
import time

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.hbafw.fleet.plugins.module_utils.fleet_report import (
    build_report, merge_fleet, render_csv, render_fleet_html, render_html,
    render_json, retry_hosts, server_files)

__metaclass__ = type

DOCUMENTATION = r'''
---
module: fleet_report
short_description: Write the hbafw fleet report of a run
description:
  - Writes C(report.json), C(report.csv), a self-contained C(report.html),
    C(retry.txt) (the servers that failed, were unreachable or are still
    flashing, for C(--limit @retry.txt)) and each server's log texts and
    discovery report under C(logs/) into I(dest)/RUN_ID, where RUN_ID is
    I(run.id).
  - Called again in the same run, it adds the servers and records it is
    given to those it already holds, so a report written after every step
    lists every server of the run.
  - Points I(dest)/latest at the run's folder and merges every server's
    latest state into I(dest)/fleet.json and fleet.html; a check run
    (I(run.check_mode)) leaves those two as they are, since it changed no
    server.
  - Removes nothing, also not earlier runs.
version_added: 1.0.0
author: hbafw developers
options:
  dest:
    description: The report folder; a relative path is taken from the
      controller's working directory.
    type: path
    required: true
  run:
    description: The run; C(id) names its folder, the rest (C(started),
      C(check_mode), C(bundle), C(operator), C(ansible_version), C(ramp),
      C(threshold)) goes into the report's banner.
    type: dict
    required: true
  hosts:
    description: Servers of the run, in report order.
    type: list
    elements: str
    required: true
  records:
    description: Per server, the results the rollout kept (C(bundle),
      C(discovery), C(update), C(force)).
    type: dict
    default: {}
attributes:
  check_mode:
    support: none
    details: The role runs it with C(check_mode=false); a check-mode rollout
      gets its report too.
  diff_mode:
    support: none
'''

EXAMPLES = r'''
- name: Write the fleet report
  hbafw.fleet.fleet_report:
    dest: /srv/hbafw-report
    run: "{{ hbafw_run }}"
    hosts: "{{ ansible_play_hosts_all }}"
    records: "{{ my_records }}"
  delegate_to: localhost
  run_once: true
'''

RETURN = r'''
summary:
  description: Number of servers, of firmware items, and of servers per
    outcome.
  returned: always
  type: dict
  contains:
    servers:
      description: Servers in the report.
      type: int
    adapters:
      description: Firmware items in the report.
      type: int
    outcomes:
      description: Servers per outcome.
      type: dict
folder:
  description: The run's folder.
  returned: always
  type: str
  sample: /srv/hbafw-report/20260101-120000-000123
html:
  description: Path of the run's HTML page.
  returned: always
  type: str
retry:
  description: Servers listed in retry.txt.
  returned: always
  type: list
  elements: str
'''

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


def main():
    module = AnsibleModule(
        argument_spec=dict(
            dest=dict(type='path', required=True),
            run=dict(type='dict', required=True),
            hosts=dict(type='list', elements='str', required=True),
            records=dict(type='dict', default={}),
        ),
    )
    params = module.params
    dest = os.path.abspath(params['dest'])
    run = dict(params['run'], ended=time.strftime('%Y-%m-%d %H:%M:%S %Z'))
    run_id = str(run.get('id', ''))
    if not run_id or run_id != os.path.basename(run_id) or run_id[0] == '.':
        module.fail_json(msg='run id %r cannot name a folder' % run_id)
    folder = os.path.join(dest, run_id)
    try:
        os.makedirs(os.path.join(folder, 'logs'), exist_ok=True)
        hosts, records = merge_run(folder, params['hosts'],
                                   params['records'])
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
            fleet = merge_fleet(read_json(fleet_path, {}), report,
                                run['ended'])
            write(fleet_path, render_json(fleet))
            write(os.path.join(dest, 'fleet.html'), render_fleet_html(fleet))
    except (OSError, ValueError, KeyError) as error:
        module.fail_json(msg='cannot write the report: %s' % error)
    module.exit_json(changed=True, summary=report['summary'], folder=folder,
                     html=os.path.join(folder, 'report.html'), retry=retry)


if __name__ == '__main__':
    main()
