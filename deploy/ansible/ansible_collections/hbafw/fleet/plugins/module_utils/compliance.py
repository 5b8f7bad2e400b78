# A server's compliance as the read-only hbafw_info module reports it: from
# hbafw-inventory's JSON document(s), the restart state and nothing else.
# Plain functions over plain data; running the inventory is the module's.

from __future__ import absolute_import, division, print_function

import json
import os

from ansible_collections.hbafw.fleet.plugins.module_utils.component import (
    BOOT_ID, FINISHED_FLASH, boot_id, flashed_this_boot, items_verdict)
from ansible_collections.hbafw.fleet.plugins.module_utils.outcomes import (
    BUSY, COMPLIANT, NO_ADAPTER, NOT_COMPARED, NOT_LISTED, REBOOT_REQUIRED,
    UPDATE_AVAILABLE, VERSION_UNREADABLE)
from ansible_collections.hbafw.fleet.plugins.module_utils.server_state import (
    signal_state)

__metaclass__ = type

# Which of hbafw-inventory's documents this module reads.
SCHEMA_VERSION = 1
REBOOT_FILE = 'reboot.json'
SCHEMA_MISMATCH = 'hbafw-inventory wrote schema %r, not %d'


class InventoryError(Exception):
    pass


def read_document(text):
    """hbafw-inventory's JSON document, or InventoryError."""
    try:
        document = json.loads(text)
    except ValueError as error:
        raise InventoryError('hbafw-inventory wrote no JSON: %s' % error)
    version = document.get('schema_version') \
        if isinstance(document, dict) else None
    if version != SCHEMA_VERSION:
        raise InventoryError(SCHEMA_MISMATCH % (version, SCHEMA_VERSION))
    return document


def items_of(documents):
    """Every catalogue item of the documents, each with its build."""
    items = []
    for document in documents:
        catalogue = document.get('catalogue') or {}
        for item in catalogue.get('items', []):
            items.append(dict(item, build=item.get('build') or
                              catalogue.get('build')))
    return items


def builds_of(documents):
    """Per vendor build that ran against a catalogue: whether it listed
    its vendor's adapters, in any of the documents."""
    listed = {}
    for document in documents:
        for run in (document.get('catalogue') or {}).get('builds', []):
            listed[run['build']] = listed.get(run['build']) or bool(
                run.get('discovered') and run.get('devices'))
    return listed


def restart_state(state_dir, signal, boot=BOOT_ID, flashed=FINISHED_FLASH):
    """(reboot required, since): the module's own marker of flashed firmware
    this boot, the component's record of a flash this boot, or the system's
    signal naming the package; since is the earliest time of them."""
    marker = os.path.join(state_dir, REBOOT_FILE)
    try:
        with open(marker) as handle:
            ours = json.load(handle).get('boot_id') == boot_id(boot)
        since = int(os.stat(marker).st_mtime)
    except (IOError, OSError, ValueError, AttributeError):
        ours, since = False, None
    named, signalled = signal_state(signal)
    recorded = flashed_this_boot(flashed, boot)
    times = [time for time, seen in ((since, ours), (signalled, named),
                                     (recorded, recorded is not None))
             if seen and time is not None]
    if ours or named or recorded is not None:
        return True, min(times) if times else None
    return False, None


def busy(documents):
    """Whether a run held the components' lock, so no catalogue was
    compared: an update is under way on the server."""
    return any((document.get('catalogue') or {}).get('busy')
               for document in documents)


def outcome(adapters, items, builds, reboot_required, held=False,
            compared=True):
    """The server's compliance; None when without a catalogue (compared
    false) nothing but adapters could be seen. builds: builds_of's. held:
    an update is under way (busy)."""
    if held:
        return BUSY
    verdict = items_verdict(items, all(builds.values()))
    if verdict in (NOT_LISTED, VERSION_UNREADABLE):
        return verdict
    if reboot_required:
        return REBOOT_REQUIRED
    if not adapters and not items and not builds:
        return NO_ADAPTER
    if not compared:
        return None
    if not builds:
        return NOT_COMPARED
    if any(item['action'] == 'upgrade' for item in items):
        return UPDATE_AVAILABLE
    return verdict or COMPLIANT
