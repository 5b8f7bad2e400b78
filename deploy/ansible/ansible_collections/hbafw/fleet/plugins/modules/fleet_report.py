#!/usr/bin/python
# Copyright: 2026 hbafw maintainers; proprietary, see LICENSE
# Writes one run's fleet report on the controller into REPORT_DIR/RUN_ID/,
# points REPORT_DIR/latest at it and merges the run into REPORT_DIR/fleet.json
# and fleet.html. Its action plugin does the same inside Ansible's own
# process, sparing each call a module run.

from __future__ import absolute_import, division, print_function

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
    (I(run.check_mode)) or a rehearsal on the fleet's twins
    (I(run.rehearsal)) leaves those two as they are, since it changed no
    server.
  - Until the run ends, its banner says it did not finish, and
    I(dest)/rollout.lock (run id, holder, process, start time) refuses every
    other run's report, so that a second rollout stops before touching a
    server; a lock whose process is gone from this host is taken over.
  - Removes nothing, also not earlier runs.
version_added: 1.0.0
author: hbafw maintainers (!UNKNOWN)
options:
  dest:
    description: The report folder; a relative path is taken from the
      controller's working directory.
    type: path
    required: true
  run:
    description: The run; C(id) names its folder, the rest (C(started),
      C(check_mode), C(rehearsal), C(bundle), C(operator),
      C(ansible_version), C(ramp), C(threshold)) goes into the report's
      banner.
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
  starting:
    description: 'Servers whose update begins now; each is
      C(update started: the flash may be running), and in C(retry.txt),
      until a later call gives its outcome.'
    type: list
    elements: str
    default: []
  batch:
    description: The update batch this write follows; the run ends with it
      when more than C(run.threshold) percent of it (or all of it) needs a
      person, or a flash goes on.
    type: list
    elements: str
    default: []
  final:
    description: No batch follows this write; the run ends with it.
    type: bool
    default: false
attributes:
  check_mode:
    description: Can run in check_mode and return changed status prediction
      without modifying the target.
    support: none
    details: The role runs it with C(check_mode=false); a check-mode rollout
      gets its report too.
  diff_mode:
    description: Returns details on what has changed (or would change in
      check_mode), when in diff mode.
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
finished:
  description: Whether the run ended with this write.
  returned: always
  type: bool
closing:
  description: The run's last message, how many servers were not updated
    and the command that goes on with them.
  returned: when finished
  type: str
servers:
  description: Each server's outcome, exit code, message, whether a
    restart is due and its log files in the run's C(logs/).
  returned: always
  type: list
  elements: dict
eligible:
  description: The servers the update batches take, in the order of
    I(hosts) (something to flash, or a restart due when the rollout
    restarts servers); given by the action on the controller.
  returned: always
  type: list
  elements: str
failures:
  description: Per server that needs a person, one line with its outcome,
    message and log; given by the action on the controller.
  returned: always
  type: dict
  sample:
    srv08: 'failed: exit code 12 (log: /srv/r/RUN/logs/srv08.update.log)'
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.hbafw.fleet.plugins.module_utils import (
    report_folder)


def main():
    module = AnsibleModule(argument_spec=report_folder.ARGUMENTS)
    try:
        result = report_folder.write_run(**module.params)
    except report_folder.RolloutRunning as error:
        module.fail_json(msg=str(error))
    except (OSError, ValueError, KeyError) as error:
        module.fail_json(msg='cannot write the report: %s' % error)
    module.exit_json(changed=True, **result)


if __name__ == '__main__':
    main()
