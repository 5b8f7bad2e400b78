#!/usr/bin/python
# Runs the hbafw firmware component on one server: a discovery, and for
# state=updated the update itself, returning what it found and did. It leaves
# the flash decision to the component and never edits the bundle or the log.

from __future__ import absolute_import, division, print_function

import os
import shutil
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.hbafw.fleet.plugins.module_utils.component import (
    ReportError, exit_meaning, log_since, log_size, parse_report,
    pending_items, update_outcome, would_flash)

__metaclass__ = type

DOCUMENTATION = r'''
---
module: hbafw
short_description: Discover and update Fibre Channel adapter firmware
description:
  - Runs a vendor build of the hbafw component (for example C(hbafw-qlogic))
    in a bundle folder that holds its catalogue C(reference.xml) and the
    vendor's flash tool.
  - Always runs a self-discovery (C(/d)) first and returns the adapters it
    reports. With I(state=updated) it then runs the update (C(/s), plus C(/f)
    when forced) and, when the flash engine ran, a second discovery.
  - The component's exit code is returned as C(exit_code), never as C(rc),
    because 1 (flashed) and 3 (nothing done) are not failures.
version_added: 1.0.0
author: hbafw developers
options:
  executable:
    description: Path of the vendor build on the server, absolute or relative
      to I(chdir).
    type: path
    required: true
  chdir:
    description: The bundle folder; the component runs there.
    type: path
    required: true
  state:
    description: C(discovered) only reads; C(updated) also updates.
    type: str
    choices: [discovered, updated]
    default: discovered
  force:
    description: Pass C(/f), so the flash engine runs whenever a device was
      discovered, also when nothing is an upgrade.
    type: bool
    default: false
attributes:
  check_mode:
    support: full
    details: Runs the discovery only; C(changed) says whether an update would
      flash.
  diff_mode:
    support: full
    details: Shows each item's active version and the version it would get.
notes:
  - Needs only Python's standard library on the server.
  - An exit code of 7 because another firmware update holds the server is a
    failure whose message says so.
'''

EXAMPLES = r'''
- name: Read what the server has
  hbafw.fleet.hbafw:
    executable: ./hbafw-qlogic
    chdir: /var/lib/hbafw/bundle
  register: found

- name: Update the server's adapters
  hbafw.fleet.hbafw:
    executable: ./hbafw-qlogic
    chdir: /var/lib/hbafw/bundle
    state: updated
'''

RETURN = r'''
exit_code:
  description: Exit code of the last component run (the update for
    I(state=updated) outside check mode, else the discovery).
  returned: always
  type: int
  sample: 1
adapters:
  description: The devices of the first discovery, before any update.
  returned: always
  type: list
  elements: dict
  sample:
    - device_id: 1077.2532.1077.015d
      product_id: QLE2562 8Gb Dual Port FC HBA
      items:
        - type: Multiboot Image
          version: '3.10'
          active_version: '2.02'
          action: upgrade
adapters_after:
  description: The devices of the discovery after the flash engine ran.
  returned: when the update ran the flash engine
  type: list
  elements: dict
pending:
  description: The items of C(adapters) whose action is C(upgrade), each with
    its C(device_id).
  returned: always
  type: list
  elements: dict
log:
  description: Exactly the text this module run appended to
    /var/vkx/Component.log, the flash engine's own output included.
  returned: always
  type: str
stdout:
  description: Console output of the last component run.
  returned: always
  type: str
report:
  description: The first discovery report, as XML text.
  returned: when it was written
  type: str
'''


def discover(module, executable, chdir, workdir, name):
    """Run a self-discovery: (exit code, output, report text or None)."""
    path = os.path.join(workdir, name)
    code, out, err = module.run_command([executable, '/d', path], cwd=chdir)
    report = None
    if os.path.isfile(path):
        with open(path) as handle:
            report = handle.read()
    return code, out + err, report


def item_lines(adapters, field):
    lines = []
    for adapter in adapters:
        for item in adapter['items']:
            lines.append('%s %s: %s\n' % (adapter['device_id'], item['type'],
                                          item[field]))
    return ''.join(lines)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            executable=dict(type='path', required=True),
            chdir=dict(type='path', required=True),
            state=dict(type='str', default='discovered',
                       choices=['discovered', 'updated']),
            force=dict(type='bool', default=False),
        ),
        supports_check_mode=True,
    )
    params = module.params
    executable, chdir = params['executable'], params['chdir']
    if not os.path.isdir(chdir):
        module.fail_json(msg='bundle folder %s does not exist' % chdir)

    start = log_size()
    workdir = tempfile.mkdtemp(prefix='hbafw-', dir=module.tmpdir)
    try:
        code, out, report = discover(module, executable, chdir, workdir,
                                     'before.xml')
        result = dict(changed=False, exit_code=code, stdout=out,
                      adapters=[], pending=[])
        if report is None:
            result['log'] = log_since(start)
            module.fail_json(
                msg='discovery wrote no report (exit code %d: %s)'
                    % (code, exit_meaning(code)), **result)
        result['report'] = report
        try:
            result['adapters'] = parse_report(report)
        except ReportError as error:
            result['log'] = log_since(start)
            module.fail_json(msg=str(error), **result)
        result['pending'] = pending_items(result['adapters'])

        if params['state'] == 'updated':
            if module.check_mode:
                result['changed'] = would_flash(result['adapters'],
                                                params['force'])
                if module._diff and result['changed']:
                    result['diff'] = dict(
                        before=item_lines(result['adapters'],
                                          'active_version'),
                        after=item_lines(result['adapters'], 'version'))
            else:
                args = [executable, '/s'] + (['/f'] if params['force'] else [])
                code, out, err = module.run_command(args, cwd=chdir)
                result.update(exit_code=code, stdout=out + err)
                changed, failed, msg = update_outcome(code, out + err,
                                                      log_since(start))
                if code != 3:
                    after = discover(module, executable, chdir, workdir,
                                     'after.xml')[2]
                    if after is not None:
                        try:
                            result['adapters_after'] = parse_report(after)
                        except ReportError:
                            pass
                result['log'] = log_since(start)
                result['changed'] = changed
                if failed:
                    module.fail_json(msg=msg, **result)
                result['msg'] = msg
        result['log'] = log_since(start)
        module.exit_json(**result)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == '__main__':
    main()
