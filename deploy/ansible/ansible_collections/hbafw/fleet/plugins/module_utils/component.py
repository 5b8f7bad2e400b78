# Plain functions behind the hbafw module: reading the component's discovery
# report, deciding what its exit code means, and cutting this run's text out of
# the component log. They run on the target with Python's standard library
# only; they start no process and never write a file.

from __future__ import absolute_import, division, print_function

import os
import xml.etree.ElementTree as ElementTree

__metaclass__ = type

LOG_PATH = '/var/vkx/Component.log'
LOCK_LINE = 'ERROR! : Another firmware update is running on this machine.'
LOCK_MESSAGE = 'another firmware update is running on this machine'
REPORT_ROOT = 'tellin_rom_discovery'
UPGRADE = 'upgrade'

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
    # A silent run prints nothing, so the lock's line may be in the log only.
    if code == 7 and any(LOCK_LINE in text.splitlines()
                         for text in (stdout, log_text)):
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
