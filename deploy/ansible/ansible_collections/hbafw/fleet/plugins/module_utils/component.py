# Plain functions behind the hbafw module: reading the component's discovery
# report, deciding what its exit code means, picking the vendor builds a
# server's adapters need, checking a flash against a second discovery, and
# cutting a run's text out of the component log. They run on the target with
# Python's standard library only; they start no process and never write a file.

from __future__ import absolute_import, division, print_function

import fcntl
import os
import re
from xml.etree import ElementTree

from ansible_collections.hbafw.fleet.plugins.module_utils.outcomes import (
    NEWER, NO_ADAPTER, NOT_LISTED, SEVERITY, VERSION_UNREADABLE)

__metaclass__ = type

LOG_PATH = '/var/vkx/Component.log'
LOCK_LINE = 'ERROR! : Another firmware update is running on this machine.'
LOCK_MESSAGE = 'another firmware update is running on this machine'
LOCK_PATH = '/var/vkx/Component.lock'
# Where the Emulex build unpacks its kit, a folder per run.
KITS_PATH = '/var/vkx/kits'
NO_ADAPTER_LINE = 'WARNING! : No supported adapters found.'
FLASH_COMPLETE = 'Flash complete ['
# What the component's supervisor logs when the component was killed during
# the flash; the engine's own status follows.
STOPPED_DURING_FLASH = ('NOTICE : The component was stopped during the '
                        'flash; Flash Engine exit code: ')
REPORT_ROOT = 'tellin_rom_discovery'
UPGRADE = 'upgrade'
DOWNGRADE = 'downgrade'
# A version's parts: letters and digits between dots, with a digit somewhere;
# "N/A", an empty text or one with other characters is no version.
VERSION = re.compile(r'^(?=.*[0-9])[0-9A-Za-z]+(\.[0-9A-Za-z]+)*$')
PCI_DEVICES = '/sys/bus/pci/devices'
BOOT_ID = '/proc/sys/kernel/random/boot_id'
# The component's own record of this boot's first flash that ended well: the
# boot id, then the Unix time, a line each. It alone sees every flash end
# (a run by hand, one whose caller was interrupted).
FINISHED_FLASH = '/var/vkx/flashes/finished'

# Each adapter vendor's build, by PCI vendor id, relative to the bundle; a
# build runs in its own folder, beside the catalogue and the vendor's tools.
VENDOR_BUILDS = {
    '0x1077': 'hbafw-qlogic',
    '0x10df': 'hbafw-emulex',
    '0x1657': 'hbafw-brocade',
}

EXIT_MEANINGS = {
    1: 'success: the flash engine reported success',
    3: 'nothing done: no upgrade pending, or no supported device',
    7: 'failure: no catalogue, no supported adapter, or a failed flash',
}
PASSED_ON = 'passed on from the vendor flash engine'

ITEM_FIELDS = ('type', 'version', 'active_version', 'action')


class ReportError(ValueError):
    """The discovery report is missing, malformed or not a discovery report."""


def _value(element, name):
    child = element.find(name)
    if child is None:
        return ''
    return child.get('value', '')


def parse_report(text):
    """Return one dict per reported device: device_id, product_id, items."""
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        raise ReportError('the discovery report is not XML: %s' % error)
    if root.tag != REPORT_ROOT:
        raise ReportError('the discovery report has root <%s>, not <%s>'
                          % (root.tag, REPORT_ROOT))
    devices = root.find('devices')
    if devices is None:
        raise ReportError('the discovery report has no <devices> element')
    adapters = []
    for device in devices.findall('device'):
        items = [dict((field, _value(item, field)) for field in ITEM_FIELDS)
                 for item in device.findall('fw_item')]
        adapters.append({'device_id': _value(device, 'device_id'),
                         'product_id': _value(device, 'product_id'),
                         'items': items})
    return adapters


def pending_items(adapters):
    """The items whose action is an upgrade, each with its device's id."""
    pending = []
    for adapter in adapters:
        for item in adapter['items']:
            if item['action'] == UPGRADE:
                entry = dict(item)
                entry['device_id'] = adapter['device_id']
                pending.append(entry)
    return pending


def unreadable_items(items):
    """The items whose active version is not a version."""
    return [item for item in items
            if not VERSION.match(item.get('active_version') or '')]


def items_verdict(items, listed=True):
    """What a build's items (or a server's) need a word other than the
    flash decision's for: its vendor's adapters not listed, a version that
    is none, firmware newer than the bundle's with nothing to upgrade; None
    when the flash decision alone says it. The inventory, the rollout and
    the report all take it from here."""
    if not listed:
        return NOT_LISTED
    if unreadable_items(items):
        return VERSION_UNREADABLE
    actions = set(item.get('action') for item in items)
    if DOWNGRADE in actions and UPGRADE not in actions:
        return NEWER
    return None


def all_items(adapters):
    return [item for adapter in adapters for item in adapter['items']]


def would_flash(adapters, force):
    """Whether an update run would start the flash engine."""
    if force:
        return bool(adapters)
    return bool(pending_items(adapters))


def exit_meaning(code):
    return EXIT_MEANINGS.get(code, PASSED_ON)


def update_outcome(code, stdout, log_text):
    """Map an update run's exit code to (changed, failed, msg)."""
    if code == 1:
        return True, False, 'updated (exit code 1: %s)' % exit_meaning(1)
    if code == 3:
        return False, False, 'nothing to do (exit code 3: %s)' % (
            exit_meaning(3))
    if busy(code, stdout + '\n' + log_text):
        return False, True, '%s (exit code 7)' % LOCK_MESSAGE
    return False, True, 'update failed with exit code %d: %s' % (
        code, exit_meaning(code))


def log_size(path=LOG_PATH):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def log_since(offset, path=LOG_PATH):
    """The text appended to the log after it was offset bytes long.

    A log that is now shorter was replaced in between; all of it is new then.
    """
    try:
        with open(path, 'rb') as log:
            log.seek(0, os.SEEK_END)
            if log.tell() < offset:
                offset = 0
            log.seek(offset)
            data = log.read()
    except (IOError, OSError):
        return ''
    return data.decode('utf-8', 'replace')


def pci_vendors(devices=PCI_DEVICES):
    """The PCI vendor ids of the machine's devices, as '0x1077' texts."""
    found = set()
    try:
        names = os.listdir(devices)
    except OSError:
        return found
    for name in names:
        try:
            with open(os.path.join(devices, name, 'vendor')) as handle:
                found.add(handle.read().strip().lower())
        except (IOError, OSError):
            continue
    return found


def builds_for(vendors, builds):
    """(vendor id, build) for each vendor present, in vendor id order."""
    return [(vendor, builds[vendor]) for vendor in sorted(builds)
            if vendor.lower() in vendors]


def own_adapters(adapters, vendor):
    """The adapters of one PCI vendor ('0x1077'): a build reports every
    adapter its catalogue names, also another vendor's on a mixed server."""
    prefix = vendor.lower()[2:] + '.'
    return [adapter for adapter in adapters
            if adapter['device_id'].lower().startswith(prefix)]


def unverified(flashed, adapters_after):
    """Why the flashed items do not show their package versions afterwards:
    one text per item that vanished or still shows another version."""
    after = {}
    for adapter in adapters_after:
        for item in adapter['items']:
            after[(adapter['device_id'], item['type'])] = item
    problems = []
    for item in flashed:
        now = after.get((item['device_id'], item['type']))
        if now is None:
            problems.append('%s %s is gone after the flash'
                            % (item['device_id'], item['type']))
        elif now['active_version'] != item['version']:
            problems.append('%s %s shows %s, not %s' % (
                item['device_id'], item['type'], now['active_version'] or
                'no version', item['version']))
    return problems


def flashed_items(adapters, force):
    """The items an update run writes: the pending ones, or all if forced."""
    if not force:
        return pending_items(adapters)
    return [dict(item, device_id=adapter['device_id'])
            for adapter in adapters for item in adapter['items']]


def flash_end(log_text):
    """The component's exit code as the log tells it, or None: the last
    "Flash complete [N]" line, else the supervisor's line for a killed
    component, whose engine status 0 is a success (1) and any other a
    failure (7)."""
    code = None
    for line in log_text.splitlines():
        try:
            if line.startswith(FLASH_COMPLETE) and line.endswith(']'):
                code = int(line[len(FLASH_COMPLETE):-1])
            elif line.startswith(STOPPED_DURING_FLASH):
                status = int(line[len(STOPPED_DURING_FLASH):])
                code = 1 if status == 0 else 7
        except ValueError:
            continue
    return code


def busy(code, text):
    """Whether a run was refused because another update holds the lock; a
    silent run prints nothing, so the lock's line may be in the log only."""
    return code == 7 and LOCK_LINE in text.splitlines()


def no_adapter(code, log_text):
    return code == 7 and NO_ADAPTER_LINE in log_text.splitlines()


def worst(outcomes):
    return min(outcomes, key=SEVERITY.index) if outcomes else NO_ADAPTER


def hold_run_lock(path=LOCK_PATH):
    """(whether a component run, or a flash one started, is alive; a
    descriptor holding the run lock when none is, or None). A run starting
    while the caller holds it is refused, which the rollout never does.
    No lock file that can be opened: no run holds it."""
    try:
        descriptor = os.open(path, os.O_RDONLY | os.O_NOFOLLOW)
    except OSError:
        return False, None
    try:
        fcntl.flock(descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except (IOError, OSError):
        os.close(descriptor)
        return True, None
    return False, descriptor


def lock_held(path=LOCK_PATH):
    """Whether a component run (and so maybe a flash) holds the run lock;
    the probe holds it for an instant when it is free."""
    alive, held = hold_run_lock(path)
    if held is not None:
        os.close(held)
    return alive


def boot_id(path=BOOT_ID):
    try:
        with open(path) as handle:
            return handle.read().strip()
    except (IOError, OSError):
        return ''


def flashed_this_boot(path=FINISHED_FLASH, boot=BOOT_ID):
    """When the component's record says this boot's first flash ended,
    or None (no record, or one of an earlier boot)."""
    try:
        with open(path) as handle:
            recorded, when = handle.read().split('\n')[:2]
        when = int(when)
    except (IOError, OSError, ValueError):
        return None
    current = boot_id(boot)
    return when if current and recorded == current else None


def forget_finished_flash(path=FINISHED_FLASH):
    """After the check after a restart saw the firmware active."""
    try:
        os.remove(path)
    except OSError:
        pass
