# What a server keeps between runs for its operators: a bounded history of the
# module's runs in a root-only file, the system's restart signal
# (/run/reboot-required and its package list, which Debian's and Ubuntu's
# tools read), and node_exporter's metrics, which the component's own
# hbafw-inventory writes. Reading never writes; nothing here runs the
# component's vendor builds.

from __future__ import absolute_import, division, print_function

import errno
import json
import os
import stat
import time

from ansible_collections.hbafw.fleet.plugins.module_utils.bundle import (
    file_problem)
from ansible_collections.hbafw.fleet.plugins.module_utils.folders import (
    A_LINK, UNSAFE, FolderError, check_way, open_folder)

__metaclass__ = type

HISTORY_FILE = 'history.jsonl'
# Oldest records go first once the file would pass this size.
HISTORY_LIMIT = 256 * 1024
HISTORY_MODE = 0o600
HISTORY_NOT_KEPT = 'the run is not in the history: %s'
HISTORY_SKIPPED = 'the history held %d unreadable lines; they are dropped'
SIGNAL_MODE = 0o644
PACKAGE = 'hbafw'
SIGNAL_TEXT = '*** System restart required ***\n'
PACKAGES = '.pkgs'
# node_exporter's textfile folder in Debian's and Fedora's packages, and the
# component package's inventory tool, which writes the metrics there.
METRICS_FILE = '/var/lib/prometheus/node-exporter/hbafw.prom'
INVENTORY = '/usr/sbin/hbafw-inventory'
METRICS_NOT_WRITTEN = 'metrics not written to %s: %s'
# hbafw-inventory's exit codes that wrote the file: adapters found, none.
METRICS_WRITTEN = (0, 3)


def history_path(state_dir):
    """Beside the runs folder: /var/lib/hbafw/history.jsonl by default."""
    return os.path.join(os.path.dirname(os.path.normpath(state_dir)),
                        HISTORY_FILE)


def record(result, run_id, action, now=None):
    """One history record of a module's result: per item before, after and
    the build's outcome."""
    after = dict(((adapter['device_id'], item['type']), item['active_version'])
                 for adapter in result.get('adapters_after', [])
                 for item in adapter['items'])
    outcomes = dict((entry['build'], entry.get('outcome'))
                    for entry in result.get('builds', []))
    items = [dict(build=adapter.get('build'), device_id=adapter['device_id'],
                  type=item['type'], before=item['active_version'],
                  after=after.get((adapter['device_id'], item['type'])),
                  outcome=outcomes.get(adapter.get('build')))
             for adapter in result.get('adapters', [])
             for item in adapter['items']]
    return dict(time=int(time.time() if now is None else now), run_id=run_id,
                action=action, builds=sorted(outcomes), items=items,
                outcome=result.get('outcome'),
                exit_code=result.get('exit_code'),
                reboot_required=bool(result.get('reboot_required')))


def append_history(path, entry, limit=HISTORY_LIMIT):
    """Appends one JSON line; when the file would pass limit, it is rewritten
    with the newest records that fit. Its folder is made root-only, as the
    runs folder beside it. How many unreadable lines were passed over (a
    rewrite drops them)."""
    line = json.dumps(entry, sort_keys=True) + '\n'
    with open_folder(os.path.dirname(path), make=True) as folder:
        name = os.path.basename(path)
        kept, skipped = history_entries(folder.read(name))
        lines = [json.dumps(old, sort_keys=True) + '\n' for old in kept]
        size = sum(len(old) for old in lines)
        if size + len(line) <= limit and not skipped:
            with folder.open(name, 'a', HISTORY_MODE) as handle:
                handle.write(line)
            return 0
        while lines and size + len(line) > limit:
            size -= len(lines.pop(0))
        folder.replace(name, ''.join(lines) + line, HISTORY_MODE)
    return skipped


def history_entries(data):
    """The records of a history file's bytes, and how many lines were not a
    JSON object (a torn write, a stray edit), each line decoded alone."""
    entries, skipped = [], 0
    for line in (data or b'').splitlines():
        try:
            entry = json.loads(line.decode('utf-8'))
        except ValueError:
            entry = None
        if isinstance(entry, dict):
            entries.append(entry)
        elif line.strip():
            skipped += 1
    return entries, skipped


def read_history(path, last=20):
    """The last records (all when last is None), oldest first; lines that
    are not a JSON object are skipped."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_CLOEXEC)
    except OSError:
        return []
    with os.fdopen(fd, 'rb') as handle:
        entries = history_entries(handle.read())[0]
    return entries if last is None else entries[-last:] if last else []


def _packages(folder, name):
    data = folder.read(name + PACKAGES)
    return [line for line in (data or b'').decode(
        'utf-8', 'replace').splitlines() if line]


def raise_signal(path):
    """Writes path (kept when present) and names the package once in
    path.pkgs; whether the package made path."""
    with open_folder(os.path.dirname(path)) as folder:
        name = os.path.basename(path)
        try:
            handle = folder.open(name, 'x', SIGNAL_MODE)
        except OSError as error:
            if error.errno != errno.EEXIST:
                raise
            # Another package's signal stays as it is: a plain file of root's.
            if not stat.S_ISREG(folder.lstat(name).st_mode):
                raise FolderError(UNSAFE % (folder.where(name), A_LINK))
            folder.refuse_others(name)
            handle = None
        made = handle is not None
        if made:
            try:
                with handle:
                    handle.write(SIGNAL_TEXT)
            except BaseException:
                folder.remove(name)
                raise
        packages = _packages(folder, name)
        if PACKAGE not in packages:
            folder.replace(name + PACKAGES, ''.join(
                p + '\n' for p in packages + [PACKAGE]), SIGNAL_MODE)
    return made


def clear_signal(path, made):
    """Takes the package out of path.pkgs, removed when no other package is
    named there; path itself only when the package made it (made) and no
    other package is named. A signal the package is not named in belongs to
    others and stays."""
    with open_folder(os.path.dirname(path)) as folder:
        name = os.path.basename(path)
        packages = _packages(folder, name)
        if PACKAGE not in packages:
            return
        others = [p for p in packages if p != PACKAGE]
        if others:
            folder.replace(name + PACKAGES, ''.join(p + '\n' for p in others),
                           SIGNAL_MODE)
            return
        folder.remove(name + PACKAGES)
        if made:
            folder.remove(name)


def signal_state(path):
    """(whether the signal names the package, its file's time or None)."""
    try:
        with open_folder(os.path.dirname(path)) as folder:
            named = PACKAGE in _packages(folder, os.path.basename(path))
    except (FolderError, OSError):
        named = False
    if not named:
        return False, None
    try:
        return True, int(os.lstat(path).st_mtime)
    except OSError:
        return True, None


def refresh_metrics(run_command, inventory, path, catalogue=None):
    """Rewrites node_exporter's metrics after a run with the component's
    own writer (atomic, never through a link), so they show the new
    firmware and this run now, not at the timer's next refresh; with the
    bundle's catalogue (once the flash ended: its query waits for the run
    lock) hbafw_update_available is written too. Nothing when
    path is empty or its folder (node_exporter) absent. (Whether written,
    why not or None); run_command is AnsibleModule's."""
    if not path or not os.path.isdir(os.path.dirname(path)):
        return False, None
    try:
        check_way(os.path.dirname(inventory))
        problem = file_problem(os.lstat(inventory))
    except (FolderError, OSError) as error:
        problem = str(error)
    if problem:
        return False, METRICS_NOT_WRITTEN % (
            path, '%s %s' % (inventory, problem))
    code, out, err = run_command([inventory, '--prometheus', path] + (
        ['--catalogue', catalogue] if catalogue else []))
    if code not in METRICS_WRITTEN:
        return False, METRICS_NOT_WRITTEN % (
            path, (err or out).strip() or 'exit code %d' % code)
    return True, None
