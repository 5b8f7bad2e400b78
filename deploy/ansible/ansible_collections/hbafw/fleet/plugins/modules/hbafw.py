#!/usr/bin/python
# Copyright: 2026 hbafw maintainers; proprietary, see LICENSE
# Runs the hbafw firmware component on one server: a discovery, and for
# state=updated the update itself, returning what it found and did; the run
# itself is module_utils/server.py. With a bundle it places it first.

from __future__ import absolute_import, division, print_function

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
  - With I(bundle_url) instead (pull mode), the server fetches the archive
    from that mirror (http or https, no proxy) and checks its digest
    against I(bundle_digest) and, with I(bundle_keyring), the signature
    C(SHA256SUMS.sig) with C(gpgv), before unpacking anything; then it goes
    on as with I(bundle). Only the digest and the keyring travel with the
    call.
  - Nothing runs from I(chdir) unless every folder on its way is root's and
    none that group or others may write (but a sticky one above it, such as
    C(/tmp)); else the run fails with a message that names the folder and
    starts with C(unsafe server folder). The folders it makes (I(chdir)'s
    parents, I(state_dir)) are 0700 whatever the umask. With I(bundle) or
    I(bundle_digests), I(chdir) must also be a root-only folder holding
    exactly the verified archive's files, each a plain file of root's alone
    with its digest (C(bundle corrupt) otherwise).
  - Emulex kit folders of component runs that are no longer alive (none
    holds the run lock C(/var/vkx/Component.lock)) are removed, in
    C(/var/vkx/kits) and in I(chdir), where older builds made them; while a
    run is alive they stay and are passed over.
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
author: hbafw maintainers (!UNKNOWN)
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
    description: SHA-256 of I(bundle) or of the archive at I(bundle_url),
      as M(hbafw.fleet.bundle) returned it with I(state=verified); required
      with either.
    type: str
    default: ""
  bundle_content:
    description: The archive, base64-encoded; set by the action plugin from
      I(bundle), not by the task.
    type: str
    default: ""
  bundle_url:
    description: The bundle archive's http or https URL on a mirror, which
      the server fetches it from; takes the place of I(bundle). Redirects
      are followed only to http or https URLs, never from https to http;
      the archive goes to a root-only file in the module's temporary
      folder, not into memory.
    type: str
    default: ""
  bundle_size:
    description: With I(bundle_url), the archive's size in bytes as the
      controller knows it; a mirror that sends more is refused. 0 refuses
      more than 1 GiB.
    type: int
    default: 0
  fetch_timeout:
    description: With I(bundle_url), the seconds the whole fetch may take,
      redirects included, however slowly the mirror sends.
    type: int
    default: 300
  bundle_keyring:
    description: With I(bundle_url), the OpenPGP keyring on the controller
      that C(SHA256SUMS.sig) must be a good signature by (checked on the
      server with C(/usr/bin/gpgv)); unset, only the digest is checked.
    type: path
  bundle_keyring_content:
    description: The keyring, base64-encoded; set by the action plugin from
      I(bundle_keyring), not by the task.
    type: str
    default: ""
  bundle_digests:
    description: Without I(bundle) or I(bundle_url), the SHA-256 of every
      file of the verified bundle archive by name (C(digests) of
      M(hbafw.fleet.bundle) with I(state=verified), or C(bundle_digests) of
      the call that placed it); I(chdir) must hold exactly these files.
    type: dict
    default: {}
  remove_bundle:
    description: At the end, remove I(chdir) unless an update is to follow
      (C(update_due)), another run holds it (I(run_id)) or a process still
      uses it (a flash that outlasts its wait).
    type: bool
    default: false
  state_dir:
    description: Root-only server folder recording flashes that outlive a
      module run and flashed firmware that waits for a restart. Every run
      but a check run appends a record to C(history.jsonl) (mode 0600,
      bounded in size) in the folder above it.
    type: path
    default: /var/lib/hbafw/runs
  reboot_signal:
    description: The system's restart signal, raised (and the package named
      in its C(.pkgs) list) when verified flashed firmware waits for a
      restart; I(state=rebooted) takes the package out of the list again,
      and removes the signal file only when this module made it and no
      other package is listed.
    type: path
    default: /run/reboot-required
  run_id:
    description: The rollout's run; while a run holds I(chdir) (from the
      call that places or uses it to the one that would remove it), no
      other run's I(remove_bundle) removes it. Empty, no run holds it.
      Letters, digits, C(.), C(_) and C(-), starting with a letter or digit.
    type: str
    default: ""
  metrics:
    description: After an update or the check after a restart (not in check
      mode), node_exporter's textfile metrics are rewritten here by
      I(inventory) (C(--prometheus), with the bundle's C(reference.xml) as
      C(--catalogue) unless a flash goes on), when this file's folder
      exists; empty, never. A failure to write them is a warning.
    type: path
    default: /var/lib/prometheus/node-exporter/hbafw.prom
  inventory:
    description: The component package's C(hbafw-inventory), which writes
      I(metrics); it must be a file of root's alone on a way only root may
      change, as it runs as root.
    type: path
    default: /usr/sbin/hbafw-inventory
  restart:
    description: With I(state=rebooted) and I(flashed), the restart's result
      (as M(ansible.builtin.reboot) registers it); read by the action on the
      controller. A restart that failed or lost the server runs nothing
      here and gives I(flashed) as lost at step C(restart).
    type: dict
    default: {}
  flashed:
    description: With I(state=rebooted), the result of the update whose
      firmware the restart activates; read by the action on the controller,
      which returns it with this check's verdict, both logs and
      C(adapters_after).
    type: dict
    default: {}
  record:
    description: Read by the action on the controller, which keeps the
      step's record under this name in the server's fact C(hbafw_records)
      for M(hbafw.fleet.fleet_report) (C(discovery) starts the records
      afresh). With I(state=updated) and C(update), a server whose kept
      discovery has nothing to flash runs nothing, its discovery standing
      as its update.
    type: str
    default: null
    choices: [discovery, update]
  reboot_policy:
    description: With I(record), the rollout's restart policy kept beside
      the records (C(hbafw_reboot)), which decides whether flashed
      firmware that waits for a restart batches the server.
    type: str
    default: never
    choices: [never, if_required, always]
  restart_with:
    description: With I(state=updated), read by the action on the
      controller. When I(reboot_policy) calls for a restart after the update
      (never after a failure or while a flash goes on), the action restarts
      the server with M(ansible.builtin.reboot) and the arguments in
      C(reboot), bounded by C(timeout) seconds, then checks the firmware
      (I(state=rebooted), the bundle placed again from the arguments in
      C(check)), bounded by C(check_timeout); the update's result becomes
      that check's, as with I(restart) and I(flashed).
    type: dict
    default: {}
attributes:
  check_mode:
    description: Can run in check_mode and return changed status prediction
      without modifying the target.
    support: full
    details: Runs the discovery only; C(changed) says whether an update would
      flash. The bundle folder is still placed, and removed with
      I(remove_bundle), as the discovery runs from it.
  diff_mode:
    description: Returns details on what has changed (or would change in
      check_mode), when in diff mode.
    support: full
    details: Shows each item's active version and the version it would get.
notes:
  - Needs only Python's standard library on the server.
  - An exit code of 7 because another firmware update holds the server is a
    failure whose message says so.
  - 'Fails for C(failed), C(failed: not verified), C(version unreadable),
    C(adapters not listed) and C(busy) (another update holds the server, or
    its bundle folder is gone when the update starts); C(still flashing),
    C(newer than the bundle) and C(no adapter) are not failures.'
  - Flashed firmware of an earlier boot whose check after the restart never
    ended is checked by the next run, whatever its I(state).
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

- name: Fetch the bundle from a mirror and discover the adapters
  hbafw.fleet.hbafw:
    bundle_url: https://mirror.example.org/hbafw/hbafw-bundle-1.0.0.tar.gz
    bundle_digest: "{{ bundle_sha256 }}"
    bundle_keyring: /srv/hbafw/release-keys.gpg
    chdir: "/var/lib/hbafw/bundles/{{ bundle_sha256 }}"

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
    C(no adapter), C(still flashing), C(busy), C(failed),
    C(failed: not verified), C(already current, reboot required),
    C(newer than the bundle) (nothing flashed, not a failure),
    C(version unreadable) (an active version that is none, such as N/A;
    nothing flashed), C(adapters not listed) (its vendor's adapters are on
    the PCI bus and its build lists none).
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
bundle_digests:
  description: With I(bundle) or I(bundle_url), the SHA-256 of every file
    of the placed archive by name, for a later call's I(bundle_digests).
  returned: when a bundle was placed or checked
  type: dict
  sample: {hbafw-qlogic: 5d41...b2a, SHA256SUMS: 0c7e...91f}
metrics:
  description: Whether I(metrics) was rewritten.
  returned: after an update or a check after a restart, not in check mode
  type: bool
  sample: true
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
server_failed:
  description: Whether the server failed at this step, as C(failed) says
    unless the task's C(failed_when) hides it; a server that stopped
    answering has failed, with the outcome C(unreachable), the C(step) and
    a message that starts with C(contact lost at).
  returned: always
  type: bool
  sample: false
step:
  description: Where contact with a lost server was lost (C(discovery),
    C(update), C(restart) or C(check after the restart)).
  returned: when the outcome is C(unreachable)
  type: str
  sample: restart
'''

import os
import re
import shutil
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.hbafw.fleet.plugins.module_utils.bundle import (
    BROKEN, CORRUPT, BundleError, check_arrival, check_placed, hold,
    place as unpack_bundle, release, remove as remove_bundle)
from ansible_collections.hbafw.fleet.plugins.module_utils.component import (
    KITS_PATH, VENDOR_BUILDS)
from ansible_collections.hbafw.fleet.plugins.module_utils.folders import (
    KIT_PREFIX, FolderError, check_way, make_folders, open_folder,
    remove_dead_kits)
from ansible_collections.hbafw.fleet.plugins.module_utils.outcomes import (
    BUSY, FAILED, STILL_FLASHING)
from ansible_collections.hbafw.fleet.plugins.module_utils.server import (
    Server, chosen_builds)
from ansible_collections.hbafw.fleet.plugins.module_utils.server_state import (
    HISTORY_NOT_KEPT, HISTORY_SKIPPED, INVENTORY, METRICS_FILE,
    append_history, history_path, record, refresh_metrics)


def bundle_archive(module):
    """The archive to place: pushed with the call, or fetched here from
    bundle_url, its digest and with a keyring its signature checked before
    anything of it is unpacked."""
    # Imported here: only a call with a bundle needs them, and the mirror's
    # web client only pull mode.
    import base64
    params = module.params
    if not params['bundle_url']:
        return base64.b64decode(params['bundle_content'])
    from ansible_collections.hbafw.fleet.plugins.module_utils.mirror import (
        LIMIT, fetch, signature_problem, url_problem, write_keyring)
    problem = url_problem(params['bundle_url'])
    if problem:
        module.fail_json(msg=problem, update_due=False)
    # A root-only file in the module's own temporary folder, not memory.
    with open_folder(module.tmpdir) as folder:
        archive = folder.open('bundle.tar', 'x+b')
    fetch(params['bundle_url'], archive, params['bundle_size'] or LIMIT,
          params['fetch_timeout'])
    check_arrival(archive, params['bundle_digest'])
    if params['bundle_keyring_content']:
        workdir = tempfile.mkdtemp(dir=module.tmpdir)
        problem = signature_problem(
            module.run_command, archive, write_keyring(
                workdir, base64.b64decode(params['bundle_keyring_content'])),
            workdir)
        if problem:
            module.fail_json(msg=problem, update_due=False)
    return archive


def place_bundle(module):
    """Whether the bundle was unpacked to stay (a change), and the digests
    of the archive's files, or None without a bundle."""
    params = module.params
    if not params['bundle_content'] and not params['bundle_url']:
        return False, None
    if not params['bundle_digest']:
        module.fail_json(msg='bundle needs bundle_digest', update_due=False)
    try:
        placed, digests = unpack_bundle(
            bundle_archive(module), params['bundle_digest'], params['chdir'],
            keep_record=not module.check_mode)
    except BROKEN as error:
        module.fail_json(msg='%s: %s' % (CORRUPT, error), update_due=False)
    except FolderError as error:
        fail_unsafe(module, error)
    except (IOError, OSError) as error:
        module.fail_json(msg='bundle: %s' % error, update_due=False)
    return placed and not params['remove_bundle'], digests


def fail_unsafe(module, error):
    module.fail_json(msg=str(error), update_due=False)


def check_bundle_folder(module):
    """Without the archive at hand: chdir's way, and with bundle_digests its
    files, before anything runs from it."""
    chdir = module.params['chdir']
    try:
        check_way(chdir)
    except (FolderError, OSError) as error:
        fail_unsafe(module, error)
    expected = module.params['bundle_digests']
    if not expected:
        return
    parent, name = os.path.split(os.path.abspath(chdir))
    try:
        with open_folder(parent) as folder:
            check_placed(folder, name, expected=expected,
                         tidy=not module.check_mode,
                         keep=not module.check_mode)
    except BundleError as error:
        module.fail_json(msg='%s: %s' % (CORRUPT, error), update_due=False)
    except (FolderError, OSError) as error:
        fail_unsafe(module, error)


def prepare_state_dir(module):
    """The state folder, made root-only, or checked when it is there."""
    state_dir = module.params['state_dir']
    try:
        if not module.check_mode:
            make_folders(state_dir)
        elif os.path.lexists(state_dir):
            check_way(state_dir)
    except (FolderError, OSError) as error:
        fail_unsafe(module, error)


# A bundle folder gone between the discovery and the update: another run or
# a person removed it, so this run flashes nothing there.
FOLDER_GONE = ('bundle folder %s is gone when the update starts; nothing '
               'flashed')
FOLDER_GONE_AT = 'bundle folder %s does not exist'
KEPT_FOR_RUNS = 'kept %s: runs %s still use it'
# A run id names a file on the server.
RUN_ID = re.compile(r'^[A-Za-z0-9][A-Za-z0-9._-]*$')
BAD_RUN_ID = 'run_id %r cannot name a file'


def references(params):
    return os.path.join(params['state_dir'], 'bundles',
                        os.path.basename(params['chdir'].rstrip('/')))


def tidy_and_exit(module, result, failed):
    """Exit, the bundle folder removed first when asked, no update is to
    follow and no other run holds it."""
    params = module.params
    if params['remove_bundle'] and not result['update_due']:
        others = release(references(params), params['run_id']) \
            if params['run_id'] else []
        if others:
            module.warn(KEPT_FOR_RUNS % (params['chdir'], ', '.join(others)))
        else:
            why_kept = remove_bundle(params['chdir'])[1]
            if why_kept:
                module.warn(why_kept)
    if failed:
        module.fail_json(**result)
    module.exit_json(**result)


def catalogue_of(chdir, outcome):
    """The bundle's catalogue for the metrics, unless a flash goes on."""
    catalogue = os.path.join(chdir, 'reference.xml')
    if outcome == STILL_FLASHING or not os.path.isfile(catalogue):
        return None
    return catalogue


# The mirror's own TIMEOUT, stated here so that only pull mode imports it.
FETCH_TIMEOUT = 300
# The action checks its task's arguments by this too, so bad input gets
# Ansible's message before the action reads any of it.
ARGUMENTS = dict(
    executable=dict(type='path'),
    builds=dict(type='dict', default=VENDOR_BUILDS),
    chdir=dict(type='path', required=True),
    state=dict(type='str', default='discovered',
               choices=['discovered', 'updated', 'rebooted']),
    force=dict(type='bool', default=False),
    wait=dict(type='int', default=3600),
    state_dir=dict(type='path', default='/var/lib/hbafw/runs'),
    reboot_signal=dict(type='path', default='/run/reboot-required'),
    bundle=dict(type='path'),
    bundle_digest=dict(type='str', default=''),
    bundle_content=dict(type='str', default='', no_log=True),
    bundle_url=dict(type='str', default=''),
    bundle_size=dict(type='int', default=0),
    fetch_timeout=dict(type='int', default=FETCH_TIMEOUT),
    bundle_keyring=dict(type='path', no_log=False),
    bundle_keyring_content=dict(type='str', default='', no_log=False),
    bundle_digests=dict(type='dict', default={}),
    remove_bundle=dict(type='bool', default=False),
    run_id=dict(type='str', default=''),
    metrics=dict(type='path', default=METRICS_FILE),
    inventory=dict(type='path', default=INVENTORY),
    restart=dict(type='dict', default={}),
    flashed=dict(type='dict', default={}),
    record=dict(type='str', choices=['discovery', 'update']),
    reboot_policy=dict(type='str', default='never',
                       choices=['never', 'if_required', 'always']),
    restart_with=dict(type='dict', default={}),
)


def main():
    module = AnsibleModule(
        argument_spec=ARGUMENTS,
        supports_check_mode=True,
    )
    if module.params['run_id'] and not RUN_ID.match(module.params['run_id']):
        module.fail_json(msg=BAD_RUN_ID % module.params['run_id'],
                         outcome=FAILED, update_due=False,
                         reboot_required=False)
    placed_to_stay, digests = place_bundle(module)
    chdir = module.params['chdir']
    if not os.path.isdir(chdir):
        if module.params['state'] == 'updated':
            module.fail_json(msg=FOLDER_GONE % chdir, outcome=BUSY,
                             update_due=False, reboot_required=False)
        module.fail_json(msg=FOLDER_GONE_AT % chdir, update_due=False)
    if digests is None:
        check_bundle_folder(module)
    prepare_state_dir(module)
    if not module.check_mode:
        remove_dead_kits(KITS_PATH, KIT_PREFIX)
    builds, missing = chosen_builds(module.params)
    workdir = tempfile.mkdtemp(prefix='hbafw-', dir=module.tmpdir)
    try:
        if module.params['run_id'] and not module.check_mode:
            hold(references(module.params), module.params['run_id'])
        server = Server(module, workdir)
        server.result['changed'] = placed_to_stay
        for build in builds:
            if server.run(build)['outcome'] == STILL_FLASHING:
                break
        result, failed = server.conclude(missing)
        if digests is not None:
            result['bundle_digests'] = digests
        if not module.check_mode:
            try:
                skipped = append_history(
                    history_path(module.params['state_dir']),
                    record(result, module.params['run_id'],
                           module.params['state']))
                if skipped:
                    module.warn(HISTORY_SKIPPED % skipped)
            except (FolderError, OSError) as error:
                module.warn(HISTORY_NOT_KEPT % error)
            if module.params['state'] != 'discovered':
                result['metrics'], warning = refresh_metrics(
                    module.run_command, module.params['inventory'],
                    module.params['metrics'], catalogue_of(
                        chdir, result['outcome']))
                if warning:
                    module.warn(warning)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    tidy_and_exit(module, result, failed)


if __name__ == '__main__':
    main()
