#!/usr/bin/python
# Writes the fleet report on the controller (report.json, report.csv and
# report.html) from the per-server records the rollout role keeps. It talks to
# no server and changes no record.

from __future__ import absolute_import, division, print_function

import json
import os
import time

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.hbafw.fleet.plugins.module_utils.fleet_report import (
    build_report, render_csv, render_html, render_json)

__metaclass__ = type

DOCUMENTATION = r'''
---
module: fleet_report
short_description: Write the hbafw fleet report
description:
  - Reads, for every server named in I(hosts), the records
    C(HOST.discovery.json) and C(HOST.update.json) that the rollout role
    keeps in I(records), and writes C(report.json), C(report.csv) and a
    self-contained C(report.html) into I(dest).
  - Beside each record it writes the server's discovery report
    C(HOST.report.xml) and the text each run appended to the server's
    component log (C(HOST.discovery.log), C(HOST.update.log)).
  - A server without a discovery record was not reached; one without an
    update record was skipped because the rollout stopped.
version_added: 1.0.0
author: hbafw developers
options:
  hosts:
    description: Every server of the rollout, in report order.
    type: list
    elements: str
    required: true
  records:
    description: Folder of the per-server records.
    type: path
    required: true
  dest:
    description: Folder the three report files are written to.
    type: path
    required: true
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
    hosts: "{{ ansible_play_hosts_all }}"
    records: /srv/hbafw-report/hosts
    dest: /srv/hbafw-report
  delegate_to: localhost
  run_once: true
'''

RETURN = r'''
summary:
  description: Number of servers, of firmware items, and of servers per
    outcome.
  returned: always
  type: dict
json:
  description: Path of the JSON report.
  returned: always
  type: str
csv:
  description: Path of the CSV report, one row per server and item.
  returned: always
  type: str
html:
  description: Path of the HTML page.
  returned: always
  type: str
'''

RECORD_KINDS = ('discovery', 'update')


def load_records(folder, hosts):
    records = {}
    for host in hosts:
        record = {}
        for kind in RECORD_KINDS:
            path = os.path.join(folder, '%s.%s.json' % (host, kind))
            if os.path.isfile(path):
                with open(path) as handle:
                    saved = json.load(handle)
                record[kind] = saved['result']
                record['check_mode'] = saved.get('check_mode', False)
                record['force'] = saved.get('force', False)
        records[host] = record
    return records


def write_server_files(folder, records):
    """Each server's discovery report and its runs' log text, as files."""
    for host, record in records.items():
        for kind in RECORD_KINDS:
            result = record.get(kind) or {}
            if 'report' in result:
                write(os.path.join(folder, host + '.report.xml'),
                      result['report'])
            if kind in record:
                write(os.path.join(folder, '%s.%s.log' % (host, kind)),
                      result.get('log', ''))


def write(path, text):
    with open(path + '.new', 'w') as handle:
        handle.write(text)
    os.rename(path + '.new', path)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            hosts=dict(type='list', elements='str', required=True),
            records=dict(type='path', required=True),
            dest=dict(type='path', required=True),
        ),
    )
    params = module.params
    try:
        records = load_records(params['records'], params['hosts'])
    except (OSError, ValueError, KeyError) as error:
        module.fail_json(msg='cannot read the records: %s' % error)
    report = build_report(params['hosts'], records,
                          time.strftime('%Y-%m-%d %H:%M:%S %Z'))
    paths = dict((kind, os.path.join(params['dest'], 'report.' + kind))
                 for kind in ('json', 'csv', 'html'))
    try:
        os.makedirs(params['dest'], exist_ok=True)
        write_server_files(params['records'], records)
        write(paths['json'], render_json(report))
        write(paths['csv'], render_csv(report))
        write(paths['html'], render_html(report))
    except OSError as error:
        module.fail_json(msg='cannot write the report: %s' % error)
    module.exit_json(changed=True, summary=report['summary'], **paths)


if __name__ == '__main__':
    main()
