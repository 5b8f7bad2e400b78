#!/usr/bin/python
# Runs the hbafw firmware component on one server: a discovery, and for
# state=updated the update itself, returning what it found and did. It leaves
# the flash decision to the component and never edits the bundle or the log.

from __future__ import absolute_import, division, print_function

import base64
import copy
import json
import os
import shutil
import subprocess
import tarfile
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.hbafw.fleet.plugins.module_utils.bundle import (
    CORRUPT, BundleError, place as unpack_bundle, remove as remove_bundle)
from ansible_collections.hbafw.fleet.plugins.module_utils.component import (
    CURRENT, FAILED, NO_ADAPTER, NOT_VERIFIED, PENDING, ReportError,
    STILL_FLASHING, UPDATED, UPDATED_REBOOT, VENDOR_BUILDS, WOULD_UPDATE,
    boot_id, builds_for, exit_meaning, flash_end, flashed_items, lock_held,
    log_since, log_size, no_adapter, own_adapters, parse_report,
    pci_vendors, pending_items, unverified, update_outcome, worst,
    would_flash)

__metaclass__ = type

DOCUMENTATION = r'''
---
module: hbafw
short_description: Discover and update Fibre Channel adapter firmware
description:
  - Runs the vendor builds of the hbafw component (for example
    C(hbafw-qlogic)) from a bundle folder; each build runs in its own folder,
    beside its catalogue C(reference.xml) and its vendor's flash tool.
  - With I(bundle), it first places that bundle archive in I(chdir) as
    M(hbafw.fleet.bundle) does (in the same connection, also in check mode,
    as the discovery runs from it); a bundle that does not match fails with
    a message that starts with C(bundle corrupt) and nothing runs.
  - Without I(executable), it picks the builds from the PCI vendor ids of the
    server's devices (C(/sys/bus/pci/devices/*/vendor)) through I(builds), so
    a server with adapters of two vendors gets both builds, and one without a
    supported adapter is C(no adapter), which is not a failure.
  - Always runs a self-discovery (C(/d)) first. With I(state=updated), when
    an item is pending (or I(force) and a device was found), it starts the
    update (C(/s), plus C(/f) when forced) in a session of its own, so that
    no timeout or lost connection of the caller reaches the flash, and waits
    up to I(wait) seconds. A flash still running then is C(still flashing);
    a later run of the module picks up its outcome from I(state_dir), or from
    the component log and run lock, and never starts a second one.
  - 'After a flash a second discovery must show every flashed item with its
    package version; the outcome is then C(updated, reboot required), since
    flashed firmware runs only after a restart, else C(failed: not verified).
    I(state=rebooted), after a restart, checks the versions again and gives
    C(updated).'
  - The component's exit code is returned as C(exit_code), never as C(rc),
    because 1 (flashed) and 3 (nothing done) are not failures.
version_added: 1.0.0
author: hbafw developers
options:
  executable:
    description: Path of one vendor build on the server, absolute or relative
      to I(chdir), which it runs in; overrides I(builds).
    type: path
  builds:
    description: PCI vendor id (C(0x1077) QLogic, C(0x10df) Emulex,
      C(0x1657) Brocade) to the path of its build, relative to I(chdir).
      A vendor whose adapters are present but whose build is missing fails
      the server.
    type: dict
    default:
      '0x1077': hbafw-qlogic
      '0x10df': hbafw-emulex
      '0x1657': hbafw-brocade
  chdir:
    description: The bundle folder.
    type: path
    required: true
  state:
    description: C(discovered) only reads (and picks up an earlier flash);
      C(updated) also updates; C(rebooted) checks, after a restart, that the
      flashed items show their package versions.
    type: str
    choices: [discovered, updated, rebooted]
    default: discovered
  force:
    description: Pass C(/f), so the flash engine runs whenever a device was
      discovered, also when nothing is an upgrade.
    type: bool
    default: false
  wait:
    description: Seconds to wait for a flash before returning
      C(still flashing); the flash goes on.
    type: int
    default: 3600
  bundle:
    description: The bundle archive on the controller, to be unpacked into
      I(chdir) (mode 0700); a I(chdir) already there is checked, never
      rewritten.
    type: path
  bundle_digest:
    description: SHA-256 of I(bundle), as M(hbafw.fleet.bundle) returned it
      with I(state=verified); required with I(bundle).
    type: str
    default: ""
  bundle_content:
    description: The archive, base64-encoded; set by the action plugin from
      I(bundle), not by the task.
    type: str
    default: ""
  remove_bundle:
    description: At the end, remove I(chdir) unless an update is to follow
      (C(update_due)) or a process still uses it (a flash that outlasts its
      wait).
    type: bool
    default: false
  state_dir:
    description: Root-only server folder recording flashes that outlive a
      module run and flashed firmware that waits for a restart.
    type: path
    default: /var/lib/hbafw/runs
attributes:
  check_mode:
    support: full
    details: Runs the discovery only; C(changed) says whether an update would
      flash. The bundle folder is still placed, and removed with
      I(remove_bundle), as the discovery runs from it.
  diff_mode:
    support: full
    details: Shows each item's active version and the version it would get.
notes:
  - Needs only Python's standard library on the server.
  - An exit code of 7 because another firmware update holds the server is a
    failure whose message says so.
  - 'Fails for C(failed) and C(failed: not verified); C(still flashing) and
    C(no adapter) are not failures.'
'''

EXAMPLES = r'''
- name: Read what the server has
  hbafw.fleet.hbafw:
    chdir: /var/lib/hbafw/bundle
  register: found

- name: Update the server's adapters with the builds its vendors need
  hbafw.fleet.hbafw:
    chdir: /var/lib/hbafw/bundle
    state: updated
    wait: 1800

- name: Update with one build, chosen by the caller
  hbafw.fleet.hbafw:
    executable: ./hbafw-qlogic
    chdir: /var/lib/hbafw/bundle-qlogic
    state: updated
'''

RETURN = r'''
outcome:
  description: "The server's outcome, the worst of its builds: one of
    C(updated), C(updated, reboot required), C(already current),
    C(update pending) (discovered only), C(would update) (check mode),
    C(no adapter), C(still flashing), C(failed), C(failed: not verified).
    C(reboot_required) says whether flashed firmware waits for a restart."
  returned: always
  type: str
  sample: updated, reboot required
update_due:
  description: Whether an update would flash (I(state=discovered), not in
    check mode, no failure, something pending or I(force)).
  returned: always
  type: bool
  sample: true
reboot_required:
  description: Whether flashed firmware waits for a restart of the server
    (until a restart, also in later runs).
  returned: always
  type: bool
  sample: true
still_flashing:
  description: Whether a flash goes on after the wait.
  returned: always
  type: bool
  sample: false
builds:
  description: Per vendor build that ran, its outcome.
  returned: always
  type: list
  elements: dict
  contains:
    build:
      description: File name of the build.
      type: str
      sample: hbafw-qlogic
    vendor:
      description: The PCI vendor id it was chosen for, or null when named by
        I(executable).
      type: str
      sample: '0x1077'
    exit_code:
      description: Its last exit code, or null while it flashes.
      type: int
      sample: 1
    outcome:
      description: Its outcome, as I(outcome).
      type: str
    msg:
      description: What happened, in words.
      type: str
    picked_up:
      description: Whether the flash was started by an earlier run.
      type: bool
exit_code:
  description: Exit code of the last component run (the update, else the
    discovery).
  returned: when a component ran and ended
  type: int
  sample: 1
adapters:
  description: The devices found before any update, each with the build
    that found it; for a flash picked up later, its items as they were
    before it.
  returned: always
  type: list
  elements: dict
  sample:
    - device_id: 1077.2532.1077.015d
      product_id: QLE2562 8Gb Dual Port FC HBA
      build: hbafw-qlogic
      items:
        - type: Multiboot Image
          version: '3.10'
          active_version: '2.02'
          action: upgrade
adapters_after:
  description: The devices of the discovery after the flash.
  returned: when a flash ended
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
  description: Console output of the update runs.
  returned: always
  type: str
report:
  description: The first discovery report, as XML text.
  returned: when one was written
  type: str
'''


# The flash runs in a session of its own, so that no timeout or lost SSH
# session of the caller reaches it; the shell records its exit code where a
# later module run finds it.
RUNNER = ('"$@"; echo $? > "$0/exit_code.new" && '
          'mv "$0/exit_code.new" "$0/exit_code"')
RUN_FILE = 'run.json'
EXIT_FILE = 'exit_code'
OUTPUT_FILE = 'stdout'
REBOOT_FILE = 'reboot.json'
# A shell's status above this is a signal's.
KILLED = 128
STILL_FLASHING_MSG = ('the flash goes on after %d seconds of waiting; a later '
                      'run picks up its outcome')
UNSEEN_END_MSG = ('the flash ended unseen: the log holds no '
                  '"Flash complete" line')


class Build(object):
    """One vendor build of the bundle and the folder it runs in."""

    def __init__(self, executable, cwd, vendor=None):
        self.executable, self.cwd, self.vendor = executable, cwd, vendor
        self.name = os.path.basename(executable)


def read_json(path):
    try:
        with open(path) as handle:
            return json.load(handle)
    except (IOError, OSError, ValueError):
        return None


def write_json(path, data):
    with open(path + '.new', 'w') as handle:
        json.dump(data, handle)
    os.rename(path + '.new', path)


def discover(module, build, workdir, name):
    """Run a self-discovery: (exit code, output, report text or None)."""
    path = os.path.join(workdir, build.name + '.' + name)
    code, out, err = module.run_command([build.executable, '/d', path],
                                        cwd=build.cwd)
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


def chosen_builds(params):
    """The builds to run: the one named, or one per adapter vendor found."""
    chdir = params['chdir']
    if params['executable']:
        return [Build(os.path.join(chdir, params['executable']), chdir)], []
    builds, missing = [], []
    for vendor, path in builds_for(pci_vendors(), params['builds']):
        executable = os.path.join(chdir, path)
        if os.path.isfile(executable):
            builds.append(Build(executable, os.path.dirname(executable),
                                vendor))
        else:
            missing.append('the bundle has no %s for the adapters of PCI '
                           'vendor %s' % (path, vendor))
    return builds, missing


def as_before(adapters, flashed):
    """For a flash picked up by a later run, whose discovery shows the state
    after it: that state, and adapters whose flashed items get back their
    version and action from before."""
    after = copy.deepcopy(adapters)
    before = dict(((item['device_id'], item['type']), item)
                  for item in flashed)
    for adapter in adapters:
        for item in adapter['items']:
            old = before.get((adapter['device_id'], item['type']))
            if old is not None:
                item.update(active_version=old['active_version'],
                            action=old['action'])
    return after


class Server(object):
    """One module run on a server: its builds' discoveries, flashes, and the
    bookkeeping of flashes that outlive it."""

    def __init__(self, module, workdir):
        self.module, self.params, self.workdir = module, module.params, workdir
        self.state_dir = self.params['state_dir']
        self.start = log_size()
        self.result = dict(changed=False, adapters=[], pending=[],
                           builds=[], stdout='')

    def run_folder(self, build):
        return os.path.join(self.state_dir, build.name)

    def finish(self, build, entry, code, out, outcome, msg):
        entry.update(exit_code=code, outcome=outcome, msg=msg)
        self.result.update(exit_code=code,
                           stdout=self.result['stdout'] + out)
        return entry

    def discover(self, build, entry, name):
        """The build's devices, or None when its entry is settled by it."""
        code, out, report = discover(self.module, build, self.workdir, name)
        if report is None:
            text = out + log_since(self.start)
            if no_adapter(code, text):
                self.finish(build, entry, code, out, NO_ADAPTER,
                            'no supported adapter found')
            else:
                self.finish(build, entry, code, out, FAILED,
                            'discovery wrote no report (exit code %d: %s)'
                            % (code, exit_meaning(code)))
            return None
        self.result.setdefault('report', report)
        try:
            adapters = parse_report(report)
        except ReportError as error:
            self.finish(build, entry, code, out, FAILED, str(error))
            return None
        self.result.update(exit_code=code)
        if build.vendor is not None:
            adapters = own_adapters(adapters, build.vendor)
        for adapter in adapters:
            adapter['build'] = build.name
        return adapters

    def run(self, build):
        entry = dict(build=build.name, vendor=build.vendor)
        self.result['builds'].append(entry)
        folder = self.run_folder(build)
        earlier = read_json(os.path.join(folder, RUN_FILE))
        if earlier is not None and not os.path.exists(
                os.path.join(folder, EXIT_FILE)) and lock_held():
            return self.finish(build, entry, None, '', STILL_FLASHING,
                               'an earlier flash is still running')
        adapters = self.discover(build, entry, 'before.xml')
        if adapters is None:
            return entry
        self.result['adapters'].extend(adapters)
        self.result['pending'].extend(pending_items(adapters))
        if earlier is not None:
            return self.pick_up(build, entry, folder, earlier, adapters)
        state = self.params['state']
        if state == 'rebooted':
            return self.check_reboot(build, entry, adapters)
        flash = would_flash(adapters, self.params['force'])
        if state == 'discovered':
            return self.finish(build, entry, self.result['exit_code'], '',
                               PENDING if flash else CURRENT,
                               'discovered')
        if not flash:
            return self.finish(build, entry, self.result['exit_code'], '',
                               CURRENT, 'nothing to flash')
        if self.module.check_mode:
            self.result['changed'] = True
            if self.module._diff:
                self.result.setdefault('diff', dict(before='', after=''))
                self.result['diff']['before'] += item_lines(
                    adapters, 'active_version')
                self.result['diff']['after'] += item_lines(adapters,
                                                           'version')
            return self.finish(build, entry, self.result['exit_code'], '',
                               WOULD_UPDATE, 'check mode: nothing flashed')
        return self.flash(build, entry, folder, adapters)

    def flash(self, build, entry, folder, adapters):
        args = [build.executable, '/s'] + (['/f'] if self.params['force']
                                           else [])
        if os.path.isdir(folder):
            shutil.rmtree(folder)
        os.makedirs(folder, 0o700)
        flashed = flashed_items(adapters, self.params['force'])
        write_json(os.path.join(folder, RUN_FILE),
                   dict(offset=log_size(), args=args, flashed=flashed))
        with open(os.path.join(folder, OUTPUT_FILE), 'w') as out:
            process = subprocess.Popen(
                ['/bin/sh', '-c', RUNNER, folder] + args, cwd=build.cwd,
                stdin=subprocess.DEVNULL, stdout=out,
                stderr=subprocess.STDOUT, close_fds=True,
                start_new_session=True)
        try:
            process.wait(timeout=self.params['wait'])
        except subprocess.TimeoutExpired:
            self.result['changed'] = True
            return self.finish(build, entry, None, '', STILL_FLASHING,
                               STILL_FLASHING_MSG % self.params['wait'])
        return self.pick_up(build, entry, folder,
                            read_json(os.path.join(folder, RUN_FILE)), None)

    def pick_up(self, build, entry, folder, run, adapters):
        """Settle a flash that ended: its exit code (from the runner, else
        from the log) and a discovery that must show what it wrote."""
        ran_here = adapters is None
        try:
            with open(os.path.join(folder, EXIT_FILE)) as handle:
                code = int(handle.read())
            with open(os.path.join(folder, OUTPUT_FILE)) as handle:
                out = handle.read()
        except (IOError, OSError, ValueError):
            code, out = None, ''
        # A component killed by a signal: the log says how its flash ended.
        if code is None or code > KILLED:
            code = flash_end(log_since(run['offset']))
        if not self.module.check_mode:
            shutil.rmtree(folder, ignore_errors=True)
        entry['picked_up'] = not ran_here
        if code is None:
            return self.finish(build, entry, None, out, FAILED,
                               UNSEEN_END_MSG)
        changed, failed, msg = update_outcome(code, out,
                                              log_since(self.start))
        self.result['changed'] |= changed and ran_here
        if ran_here:
            adapters = self.discover(build, entry, 'after.xml')
        else:
            adapters = as_before(adapters, run['flashed'])
        if adapters is not None:
            self.result.setdefault('adapters_after', []).extend(adapters)
        if failed or code != 1:
            return self.finish(build, entry, code, out,
                               FAILED if failed else CURRENT, msg)
        problems = unverified(run['flashed'], adapters or [])
        if problems:
            return self.finish(build, entry, code, out, NOT_VERIFIED,
                               '; '.join(problems))
        self.mark_reboot(run['flashed'])
        return self.finish(build, entry, code, out, UPDATED_REBOOT,
                           msg + '; verified, active after a reboot')

    def mark_reboot(self, flashed):
        if self.module.check_mode:
            return
        path = os.path.join(self.state_dir, REBOOT_FILE)
        marker = read_json(path) or {}
        if marker.get('boot_id') != boot_id():
            marker = dict(boot_id=boot_id(), flashed=[])
        marker['flashed'].extend(flashed)
        write_json(path, marker)

    def reboot_required(self):
        marker = read_json(os.path.join(self.state_dir, REBOOT_FILE))
        return bool(marker) and marker.get('boot_id') == boot_id()

    def check_reboot(self, build, entry, adapters):
        """After a restart: the flashed items must show their versions."""
        marker = read_json(os.path.join(self.state_dir, REBOOT_FILE)) or {}
        ours = [item for item in marker.get('flashed', [])
                if any(item['device_id'] == adapter['device_id']
                       for adapter in adapters)]
        problems = unverified(ours, adapters)
        if problems:
            return self.finish(build, entry, self.result['exit_code'], '',
                               NOT_VERIFIED, '; '.join(problems))
        return self.finish(build, entry, self.result['exit_code'], '',
                           UPDATED if ours else CURRENT,
                           'active after the restart')

    def conclude(self, missing):
        """The module's result, and whether it is a failure."""
        outcomes = [entry['outcome'] for entry in self.result['builds']]
        outcomes += [FAILED] * len(missing)
        outcome = worst(outcomes)
        if self.params['state'] == 'rebooted' and outcome in (UPDATED,
                                                              CURRENT):
            if not self.module.check_mode and outcome == UPDATED:
                os.remove(os.path.join(self.state_dir, REBOOT_FILE))
            reboot = False
        else:
            reboot = outcome == UPDATED_REBOOT or (
                outcome != STILL_FLASHING and self.reboot_required())
        msgs = missing + ['%s: %s' % (entry['build'], entry['msg'])
                          for entry in self.result['builds']]
        self.result.update(
            outcome=outcome, reboot_required=reboot,
            still_flashing=outcome == STILL_FLASHING,
            update_due=outcome == PENDING and not self.module.check_mode,
            msg='; '.join(msgs) or 'no supported adapter found',
            log=log_since(self.start))
        return self.result, outcome in (FAILED, NOT_VERIFIED)


def place_bundle(module):
    """Whether the bundle was unpacked to stay (a change)."""
    params = module.params
    if not params['bundle_content']:
        return False
    if not params['bundle_digest']:
        module.fail_json(msg='bundle needs bundle_digest', update_due=False)
    try:
        placed = unpack_bundle(base64.b64decode(params['bundle_content']),
                               params['bundle_digest'], params['chdir'])
    except (BundleError, tarfile.TarError, EOFError, ValueError) as error:
        module.fail_json(msg='%s: %s' % (CORRUPT, error), update_due=False)
    except (IOError, OSError) as error:
        module.fail_json(msg='bundle: %s' % error, update_due=False)
    return placed and not params['remove_bundle']


def end(module, result, failed):
    """Exit, the bundle folder removed first when asked and no update is to
    follow."""
    if module.params['remove_bundle'] and not result['update_due']:
        _, running = remove_bundle(module.params['chdir'])
        if running:
            module.warn('kept %s: processes %s still run there'
                        % (module.params['chdir'],
                           ', '.join(map(str, running))))
    if failed:
        module.fail_json(**result)
    module.exit_json(**result)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            executable=dict(type='path'),
            builds=dict(type='dict', default=VENDOR_BUILDS),
            chdir=dict(type='path', required=True),
            state=dict(type='str', default='discovered',
                       choices=['discovered', 'updated', 'rebooted']),
            force=dict(type='bool', default=False),
            wait=dict(type='int', default=3600),
            state_dir=dict(type='path', default='/var/lib/hbafw/runs'),
            bundle=dict(type='path'),
            bundle_digest=dict(type='str', default=''),
            bundle_content=dict(type='str', default='', no_log=True),
            remove_bundle=dict(type='bool', default=False),
        ),
        supports_check_mode=True,
    )
    kept = place_bundle(module)
    chdir = module.params['chdir']
    if not os.path.isdir(chdir):
        module.fail_json(msg='bundle folder %s does not exist' % chdir,
                         update_due=False)
    builds, missing = chosen_builds(module.params)
    workdir = tempfile.mkdtemp(prefix='hbafw-', dir=module.tmpdir)
    try:
        if not module.check_mode and not os.path.isdir(
                module.params['state_dir']):
            os.makedirs(module.params['state_dir'], 0o700)
        server = Server(module, workdir)
        server.result['changed'] = kept
        for build in builds:
            if server.run(build)['outcome'] == STILL_FLASHING:
                break
        result, failed = server.conclude(missing)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    end(module, result, failed)


if __name__ == '__main__':
    main()
