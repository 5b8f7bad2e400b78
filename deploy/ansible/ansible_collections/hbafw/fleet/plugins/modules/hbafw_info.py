#!/usr/bin/python
# Copyright: 2026 hbafw maintainers; proprietary, see LICENSE
# Reads what a server runs without changing it: hbafw-inventory's adapters,
# with a bundle already on the server each item's compliance, the restart
# state and the last records of the server's update history.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: hbafw_info
short_description: Read a server's adapters, compliance, restart state and
  update history
description:
  - Runs C(hbafw-inventory --json), which only reads, and returns the
    adapters it lists. It needs no bundle and writes nothing on the server.
  - With I(chdir), a bundle folder already on the server, each
    C(reference.xml) there (and one folder down) is given to
    C(hbafw-inventory --catalogue), which runs every vendor build whose
    adapters are on the PCI bus, as an update would, and each decides its
    adapters' items; the server is then C(compliant), C(update available),
    C(newer than the bundle), C(version unreadable), C(adapters not listed)
    or C(not compared) (no build could compare).
  - The restart state is the hbafw module's own record of flashed firmware
    waiting for a restart in I(state_dir), or the system's signal
    I(reboot_signal) naming the package.
version_added: 1.0.0
author: hbafw maintainers (!UNKNOWN)
options:
  inventory:
    description: The hbafw-inventory to run, for example the installed one
      or the one of a bundle on the server.
    type: path
    default: /usr/sbin/hbafw-inventory
  chdir:
    description: A bundle folder on the server whose catalogues the items
      are compared against.
    type: path
  state_dir:
    description: The hbafw module's I(state_dir); its history file is in
      the folder above it.
    type: path
    default: /var/lib/hbafw/runs
  reboot_signal:
    description: The system's restart signal file.
    type: path
    default: /run/reboot-required
  history:
    description: How many of the newest history records to return.
    type: int
    default: 20
attributes:
  check_mode:
    description: Can run in check_mode and return changed status prediction
      without modifying the target.
    support: full
    details: It never changes anything, so check mode runs the same.
  diff_mode:
    description: Returns details on what has changed (or would change in
      check_mode), when in diff mode.
    support: none
notes:
  - Needs only Python's standard library on the server.
'''

EXAMPLES = r'''
- name: Read what the server runs
  hbafw.fleet.hbafw_info:
  register: hbafw_state

- name: Compare it with a bundle already on the server
  hbafw.fleet.hbafw_info:
    chdir: /var/lib/hbafw/bundle
    history: 5
'''

RETURN = r'''
msg:
  description: Why nothing was compared when I(compliance) is C(busy), else
    empty.
  returned: always
  type: str
  sample: another firmware update is running on this machine
compliance:
  description: C(busy) (another firmware update held the server, so nothing
    was compared), C(version unreadable) (an adapter runs a version that is
    none, such as N/A), C(adapters not listed) (a known vendor's adapters
    are on the PCI bus and its tool lists none of them), C(reboot required),
    C(no adapter), C(not compared) (no vendor build could compare),
    C(update available), C(newer than the bundle) (the server runs newer
    firmware; nothing is flashed) or C(compliant); null without I(chdir)
    when adapters were found.
  returned: always
  type: str
  sample: update available
adapters:
  description: The adapters as hbafw-inventory's JSON document lists them
    (schema version 1, see hbafw-inventory(8)).
  returned: always
  type: list
  elements: dict
  sample:
    - name: qlogic-QLE2562-0
      build: hbafw-qlogic
      model: QLE2562
      firmware_version: 5.06.05
      option_rom_version: '2.02'
items:
  description: With I(chdir), every firmware item as its vendor build
    decided it.
  returned: always
  type: list
  elements: dict
  contains:
    build:
      description: The vendor build.
      type: str
      sample: hbafw-qlogic
    device_id:
      description: The catalogue's device id.
      type: str
      sample: 1077.2532.1077.015d
    active_version:
      description: The version the adapter runs.
      type: str
      sample: '2.02'
    package_version:
      description: The bundle's version.
      type: str
      sample: '3.10'
    action:
      description: C(upgrade), C(rewrite) or C(downgrade).
      type: str
      sample: upgrade
reboot_required:
  description: Whether flashed firmware waits for a restart.
  returned: always
  type: bool
  sample: false
reboot_required_since:
  description: Unix time since when, or null.
  returned: always
  type: int
  sample: 1796781348
history:
  description: The newest records of the server's update history, oldest
    first (time, run_id, action, builds, items, outcome, exit_code,
    reboot_required).
  returned: always
  type: list
  elements: dict
'''

import glob
import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.hbafw.fleet.plugins.module_utils.compliance import (
    InventoryError, builds_of, busy, items_of, outcome, read_document,
    restart_state)
from ansible_collections.hbafw.fleet.plugins.module_utils.component import (
    LOCK_MESSAGE)
from ansible_collections.hbafw.fleet.plugins.module_utils.server_state import (
    history_path, read_history)

# 0 adapters found, 3 none found: both are answers.
ANSWERS = (0, 3)


def catalogues(chdir):
    if not chdir:
        return []
    return sorted(glob.glob(os.path.join(chdir, 'reference.xml')) +
                  glob.glob(os.path.join(chdir, '*', 'reference.xml')))


def inventory(module, catalogue=None):
    command = [module.params['inventory'], '--json']
    if catalogue:
        command += ['--catalogue', catalogue]
    code, out, err = module.run_command(command)
    if code not in ANSWERS:
        module.fail_json(msg='%s exited %d: %s' % (
            ' '.join(command), code, err.strip().replace('\n', ' ')))
    try:
        return read_document(out)
    except InventoryError as error:
        module.fail_json(msg=str(error))


def main():
    module = AnsibleModule(
        argument_spec=dict(
            inventory=dict(type='path', default='/usr/sbin/hbafw-inventory'),
            chdir=dict(type='path'),
            state_dir=dict(type='path', default='/var/lib/hbafw/runs'),
            reboot_signal=dict(type='path', default='/run/reboot-required'),
            history=dict(type='int', default=20),
        ),
        supports_check_mode=True,
    )
    params = module.params
    if params['chdir'] and not os.path.isdir(params['chdir']):
        module.fail_json(msg='bundle folder %s does not exist'
                         % params['chdir'])
    documents = [inventory(module, catalogue)
                 for catalogue in catalogues(params['chdir'])]
    documents = documents or [inventory(module)]
    adapters = documents[0].get('adapters', [])
    items = items_of(documents)
    reboot, since = restart_state(params['state_dir'],
                                  params['reboot_signal'])
    held = busy(documents)
    module.exit_json(
        changed=False, adapters=adapters, items=items,
        compliance=outcome(adapters, items, builds_of(documents), reboot,
                           held, compared=bool(params['chdir'])),
        msg=LOCK_MESSAGE if held else '',
        reboot_required=reboot, reboot_required_since=since,
        history=read_history(history_path(params['state_dir']),
                             max(params['history'], 0)))


if __name__ == '__main__':
    main()
