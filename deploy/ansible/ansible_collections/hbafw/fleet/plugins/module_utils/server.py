# One run of the hbafw module on a server: each vendor build's discoveries
# and flash, and the bookkeeping of flashes that outlive the run. It leaves
# the flash decision to the component and never edits the bundle or the log.

from __future__ import absolute_import, division, print_function

import copy
import json
import os
import subprocess

from ansible_collections.hbafw.fleet.plugins.module_utils.atomic_file import (
    read_json)
from ansible_collections.hbafw.fleet.plugins.module_utils.component import (
    LOCK_MESSAGE, ReportError, all_items, boot_id, builds_for, busy,
    exit_meaning, flash_end, flashed_items, flashed_this_boot,
    forget_finished_flash, items_verdict, lock_held,
    log_since, log_size, no_adapter, own_adapters, parse_report, pci_vendors,
    pending_items, unreadable_items, unverified, update_outcome, worst,
    would_flash)
from ansible_collections.hbafw.fleet.plugins.module_utils.folders import (
    FolderError, open_folder)
from ansible_collections.hbafw.fleet.plugins.module_utils.outcomes import (
    BUSY, CURRENT, CURRENT_REBOOT, FAILED, FAILS_RUN, NEWER, NO_ADAPTER,
    NOT_LISTED, NOT_VERIFIED, PENDING, STILL_FLASHING, UPDATED,
    UPDATED_REBOOT, VERSION_UNREADABLE, WOULD_UPDATE)
from ansible_collections.hbafw.fleet.plugins.module_utils.server_state import (
    clear_signal, raise_signal)

__metaclass__ = type


# The flash runs in a session of its own, so that no timeout or lost SSH
# session of the caller reaches it; the shell records its exit code where a
# later module run finds it, in the run folder it holds open (descriptor $0),
# never reached again by its path.
RUNNER = ('umask 077; "$@"; code=$?; cd "/proc/self/fd/$0" && '
          'echo $code > exit_code.new && mv exit_code.new exit_code')
RUN_FILE = 'run.json'
EXIT_FILE = 'exit_code'
OUTPUT_FILE = 'stdout'
REBOOT_FILE = 'reboot.json'
# A shell's status above this is a signal's.
KILLED = 128
STILL_FLASHING_MSG = ('the flash goes on after %d seconds of waiting; a later '
                      'run picks up its outcome')
BOOKS_NOT_KEPT = ('the flash ended and its outcome stands, but its records '
                  'were not kept: %s')
UNSEEN_END_MSG = ('the flash ended unseen: the log holds no '
                  '"Flash complete" line')
NOT_LISTED_MSG = ('adapters of PCI vendor %s are on the PCI bus, and %s '
                  'lists none of them: nothing flashed')
VERSION_UNREADABLE_MSG = 'active version not a version (%s): nothing flashed'
NEWER_MSG = 'the adapters run firmware newer than the bundle: nothing flashed'


class Build(object):
    """One vendor build of the bundle and the folder it runs in."""

    def __init__(self, executable, cwd, vendor=None):
        self.executable, self.cwd, self.vendor = executable, cwd, vendor
        self.name = os.path.basename(executable)


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


def rewind_flashed(adapters, flashed):
    """For a flash picked up by a later run, whose discovery shows the state
    after it: the flashed items of adapters get back, in place, their
    version and action from before; returned is a copy of that state
    after."""
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
            if no_adapter(code, text) and build.vendor is not None:
                self.finish(build, entry, code, out, NOT_LISTED,
                            NOT_LISTED_MSG % (build.vendor, build.name))
            elif no_adapter(code, text):
                self.finish(build, entry, code, out, NO_ADAPTER,
                            'no supported adapter found')
            elif busy(code, text):
                self.finish(build, entry, code, out, BUSY, LOCK_MESSAGE)
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
            if not adapters and name == 'before.xml':
                self.finish(build, entry, code, out, NOT_LISTED,
                            NOT_LISTED_MSG % (build.vendor, build.name))
                return None
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
        verdict = items_verdict(all_items(adapters))
        if verdict == VERSION_UNREADABLE:
            return self.finish(build, entry, self.result['exit_code'], '',
                               verdict, VERSION_UNREADABLE_MSG % ', '.join(
                                   '%s %r' % (item['type'],
                                              item['active_version'])
                                   for item in unreadable_items(
                                       all_items(adapters))))
        state = self.params['state']
        if state == 'rebooted' or self.check_due():
            return self.check_reboot(build, entry, adapters)
        flash = would_flash(adapters, self.params['force'])
        current = NEWER if verdict == NEWER else CURRENT
        if state == 'discovered':
            return self.finish(build, entry, self.result['exit_code'], '',
                               PENDING if flash else current,
                               'discovered')
        if not flash:
            return self.finish(build, entry, self.result['exit_code'], '',
                               current, NEWER_MSG if current == NEWER
                               else 'nothing to flash')
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
        flashed = flashed_items(adapters, self.params['force'])
        with open_folder(self.state_dir) as state:
            state.remove(build.name)
            with state.mkdir(build.name) as run:
                run.replace(RUN_FILE, json.dumps(dict(
                    offset=log_size(), args=args, flashed=flashed)))
                with run.open(OUTPUT_FILE) as out:
                    process = subprocess.Popen(
                        ['/bin/sh', '-c', RUNNER, str(run.fd)] + args,
                        cwd=build.cwd, stdin=subprocess.DEVNULL, stdout=out,
                        stderr=subprocess.STDOUT, close_fds=True,
                        pass_fds=(run.fd,), start_new_session=True)
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
            self.keep_books(lambda state: state.remove(build.name))
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
            adapters = rewind_flashed(adapters, run['flashed'])
        if adapters is not None:
            self.result.setdefault('adapters_after', []).extend(adapters)
        if failed and busy(code, out + '\n' + log_since(self.start)):
            return self.finish(build, entry, code, out, BUSY, msg)
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

    def keep_books(self, step):
        """step(state folder) after a flash ended: what fails there is a
        warning, as the flash's outcome stands."""
        try:
            with open_folder(self.state_dir) as state:
                step(state)
        except (FolderError, OSError, ValueError) as error:
            self.module.warn(BOOKS_NOT_KEPT % error)

    def mark_reboot(self, flashed):
        if self.module.check_mode:
            return
        marker = read_json(os.path.join(self.state_dir, REBOOT_FILE)) or {}
        if marker.get('boot_id') != boot_id():
            marker = dict(boot_id=boot_id(), flashed=[])
        marker['flashed'].extend(flashed)

        def mark(state):
            state.replace(REBOOT_FILE, json.dumps(marker))
            if raise_signal(self.params['reboot_signal']):
                marker['signal_made'] = True
                state.replace(REBOOT_FILE, json.dumps(marker))
        self.keep_books(mark)

    def check_due(self):
        """Flashed firmware of an earlier boot: the server restarted, and
        the check after it never ended (a re-run does it now)."""
        marker = read_json(os.path.join(self.state_dir, REBOOT_FILE))
        return bool(marker) and marker.get('boot_id') != boot_id()

    def reboot_required(self):
        """The module's marker, or the component's record of a flash this
        boot however its run ended (by hand, its caller interrupted)."""
        marker = read_json(os.path.join(self.state_dir, REBOOT_FILE))
        return (bool(marker) and marker.get('boot_id') == boot_id()) or \
            flashed_this_boot() is not None

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
        current = NEWER if items_verdict(all_items(adapters)) == NEWER \
            else CURRENT
        return self.finish(build, entry, self.result['exit_code'], '',
                           UPDATED if ours else current,
                           'active after the restart')

    def conclude(self, missing):
        """The module's result, and whether it is a failure."""
        outcomes = [entry['outcome'] for entry in self.result['builds']]
        outcomes += [FAILED] * len(missing)
        outcome = worst(outcomes)
        if (self.params['state'] == 'rebooted' or self.check_due()) and \
                outcome in (UPDATED, CURRENT, NEWER):
            if not self.module.check_mode and outcome == UPDATED:
                made = (read_json(os.path.join(
                    self.state_dir, REBOOT_FILE)) or {}).get('signal_made')
                self.keep_books(lambda state: (
                    clear_signal(self.params['reboot_signal'], made),
                    state.remove(REBOOT_FILE),
                    forget_finished_flash()))
            reboot = False
        else:
            reboot = outcome == UPDATED_REBOOT or (
                outcome != STILL_FLASHING and self.reboot_required())
        # Current, but flashed firmware of an earlier run waits for a restart.
        if outcome in (CURRENT, NEWER) and reboot:
            outcome = CURRENT_REBOOT
        msgs = missing + ['%s: %s' % (entry['build'], entry['msg'])
                          for entry in self.result['builds']]
        self.result.update(
            outcome=outcome, reboot_required=reboot,
            still_flashing=outcome == STILL_FLASHING,
            update_due=outcome == PENDING and not self.module.check_mode,
            msg='; '.join(msgs) or 'no supported adapter found',
            log=log_since(self.start))
        return self.result, outcome in FAILS_RUN
