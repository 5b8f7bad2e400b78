# The fleet report's rows, built on the controller from what the rollout kept
# per server: one row per server and firmware item, failed servers first, a
# summary, the JSON and CSV renderings, the retry list, the files of each
# server's logs, and the fleet state merged across runs. It reads and writes
# no file (report_folder does) and draws no page (fleet_page does).

from __future__ import absolute_import, division, print_function

import csv
import io
import json
import re

__metaclass__ = type

from ansible_collections.hbafw.fleet.plugins.module_utils.outcomes import (
    BUNDLE_CORRUPT, BUSY, COMPLIANT, CURRENT, CURRENT_REBOOT, FAILED,
    NEEDS_PERSON, NEWER, NO_ADAPTER, NOT_COMPARED, NOT_LISTED, NOT_REACHED,
    PENDING, REBOOT_REQUIRED, UPDATE_AVAILABLE, VERSION_UNREADABLE,
    REPORT_ORDER as OUTCOMES, RETRY, SKIPPED, STILL_FLASHING, UNREACHABLE,
    UPDATED, UPDATED_REBOOT, WOULD_UPDATE)

FLASHED = (UPDATED, UPDATED_REBOOT, WOULD_UPDATE)
# Outcomes after which a server runs what it ran before.
UNCHANGED = (CURRENT, CURRENT_REBOOT, NO_ADAPTER, WOULD_UPDATE, SKIPPED,
             NOT_REACHED, BUSY, COMPLIANT, UPDATE_AVAILABLE, REBOOT_REQUIRED,
             NOT_COMPARED, NEWER, NOT_LISTED, VERSION_UNREADABLE)
STOPPED_BEFORE = 'the rollout stopped before its batch'
NOT_YET = 'its batch had not begun when this report was written'

COLUMNS = ('server', 'device_id', 'product_id', 'type', 'active_before',
           'package_version', 'action', 'active_after', 'outcome',
           'exit_code', 'message', 'reboot_required')
LOG_KINDS = ('bundle', 'discovery', 'update')
# A cell a spreadsheet would take for a formula.
FORMULA_START = ('=', '+', '-', '@', '\t', '\r')


def inventory_outcome(found):
    """(outcome, None, message) of a server read by hbafw_info: its
    compliance, or without a catalogue only what needs no comparison."""
    if found.get('unreachable'):
        return UNREACHABLE, None, found.get('msg', '')
    if found.get('failed'):
        return FAILED, None, found.get('msg', '')
    return (found.get('compliance') or NOT_COMPARED, None,
            found.get('msg') or '')


def inventory_items(found):
    """The rows' items of a read-only inventory: its catalogue items, or
    without a catalogue each adapter's firmware, as the discovery's are."""
    if found.get('items'):
        return [dict(device_id=item.get('device_id', ''),
                     product_id=item.get('product', ''),
                     items=[dict(item, version=item.get('package_version'))])
                for item in found['items']]
    return [dict(device_id=(adapter.get('pci') or {}).get('id', ''),
                 product_id=adapter.get('model', ''),
                 items=[dict(type='firmware', active_version=adapter.get(
                     'firmware_version', ''))])
            for adapter in found.get('adapters') or []]


def server_outcome(record, finished=True):
    """(outcome, exit code or None, message) of one server's records, in a
    run that finished or did not (yet)."""
    if record.get('inventory') is not None:
        return inventory_outcome(record['inventory'])
    discovery = record.get('discovery') or {}
    update = record.get('update') or {}
    bundle = record.get('bundle') or {}
    if bundle.get('failed') or bundle.get('unreachable'):
        # The server went no further than its bundle.
        discovery, update = bundle, {}
    if not discovery or discovery.get('skipped'):
        return NOT_REACHED, None, 'no discovery result: server not reached'
    for step in (discovery, update):
        message = step.get('msg', '')
        if step.get('unreachable') or step.get('outcome') == UNREACHABLE:
            return UNREACHABLE, step.get('exit_code'), message
        if step.get('failed') and message.startswith(BUNDLE_CORRUPT):
            return BUNDLE_CORRUPT, None, message
    if discovery.get('failed'):
        outcome = discovery.get('outcome')
        return (outcome if outcome in NEEDS_PERSON else FAILED,
                discovery.get('exit_code'), discovery.get('msg', ''))
    if not update or update.get('skipped'):
        if discovery.get('outcome') in (None, PENDING):
            return SKIPPED, None, STOPPED_BEFORE if finished else NOT_YET
        return (discovery['outcome'], discovery.get('exit_code'),
                discovery.get('msg', ''))
    code, message = update.get('exit_code'), update.get('msg', '')
    # The module's own verdict, where it gives one, is final.
    if update.get('outcome') in OUTCOMES:
        return update['outcome'], code, message
    if update.get('failed'):
        return FAILED, code, message
    if update.get('changed'):
        if record.get('check_mode'):
            return WOULD_UPDATE, code, message
        if update.get('reboot_required'):
            return UPDATED_REBOOT, code, message
        return UPDATED, code, message
    if update.get('reboot_required'):
        return CURRENT_REBOOT, code, message
    return CURRENT, code, message


def _item_outcome(server, item, forced):
    # The component flashes a server as a whole; an item that was no upgrade
    # is still current afterwards unless the update was forced.
    if server in FLASHED and not forced and item.get('action') != 'upgrade':
        return CURRENT
    return server


def server_rows(host, record, finished=True):
    outcome, code, message = server_outcome(record, finished)
    discovery = record.get('discovery') or {}
    update = record.get('update') or {}
    if record.get('inventory') is not None:
        # Read only: what ran before runs after.
        discovery = dict(record['inventory'], adapters=inventory_items(
            record['inventory']))
    before = discovery.get('adapters') or []
    # A flash picked up by a later run's discovery has no update record.
    after = (update or discovery).get('adapters_after')
    row = dict.fromkeys(COLUMNS, '')
    row.update(server=host, outcome=outcome, message=message or '',
               exit_code='' if code is None else code,
               reboot_required=bool((update or discovery).get(
                   'reboot_required')))
    if not before:
        return [row]
    rows = []
    for index, adapter in enumerate(before):
        after_items = []
        if after and index < len(after) \
                and after[index].get('device_id') == adapter['device_id']:
            after_items = after[index].get('items', [])
        for number, item in enumerate(adapter['items']):
            # Without a discovery after the flash, only a server the update
            # left alone is known to run what it ran before.
            if number < len(after_items):
                active_after = after_items[number].get('active_version', '')
            elif outcome not in UNCHANGED:
                active_after = ''
            else:
                active_after = item.get('active_version', '')
            item_row = dict(row)
            item_row.update(
                device_id=adapter['device_id'],
                product_id=adapter['product_id'], type=item.get('type', ''),
                active_before=item.get('active_version', ''),
                package_version=item.get('version', ''),
                action=item.get('action', ''), active_after=active_after,
                outcome=_item_outcome(outcome, item, record.get('force')))
            rows.append(item_row)
    return rows


def file_name(host):
    """A server's name as a safe file name in the run's logs folder."""
    return re.sub(r'[^A-Za-z0-9._-]', '_', host).lstrip('.') or '_'


def server_files(host, record):
    """{file name in logs/: text} of one server: each step's log text and
    its discovery report."""
    files = {}
    for kind in LOG_KINDS:
        result = record.get(kind)
        if result and not result.get('skipped'):
            files['%s.%s.log' % (file_name(host), kind)] = result.get(
                'log') or result.get('msg') or ''
            if result.get('report'):
                files[file_name(host) + '.report.xml'] = result['report']
    return files


def build_report(hosts, records, run=None):
    """The whole report as plain data: run, summary, servers and rows, the
    servers that need attention first."""
    rank = dict((outcome, number) for number, outcome in enumerate(RETRY))
    finished = bool((run or {}).get('finished'))
    servers, rows = [], []
    for host in hosts:
        record = records.get(host, {})
        outcome, code, message = server_outcome(record, finished)
        servers.append(dict(
            server=host, outcome=outcome, exit_code=code, message=message,
            reboot_required=bool((record.get('update') or record.get(
                'discovery') or record.get('inventory') or {}).get(
                    'reboot_required')),
            logs=sorted(server_files(host, record)),
            rows=server_rows(host, record, finished)))
    servers.sort(key=lambda server: rank.get(server['outcome'], len(rank)))
    for server in servers:
        rows.extend(server.pop('rows'))
    counts = dict((outcome, 0) for outcome in OUTCOMES)
    for server in servers:
        counts[server['outcome']] += 1
    summary = dict(servers=len(servers), adapters=sum(
        1 for row in rows if row['device_id']), outcomes=counts)
    return dict(run=run or {}, summary=summary, servers=servers, rows=rows)


def stops_after(report, batch, threshold):
    """Whether the rollout stops after this update batch, as Ansible's
    max_fail_percentage judges it: more than threshold percent of the batch
    (or all of it) needs a person, or a flash goes on."""
    outcomes = dict((server['server'], server['outcome'])
                    for server in report['servers'])
    found = [outcomes.get(host) for host in batch]
    failed = sum(1 for outcome in found if outcome in NEEDS_PERSON)
    return bool(batch) and (STILL_FLASHING in found or failed == len(batch)
                            or failed * 100.0 / len(batch) > threshold)


def retry_hosts(report):
    return [server['server'] for server in report['servers']
            if server['outcome'] in RETRY]


def merge_fleet(fleet, report, seen):
    """The fleet state after this run: every server's latest known state.

    A server this run did not reach keeps the versions and the time it was
    last seen, and gets this run's outcome."""
    servers = dict(fleet.get('servers', {}))
    run_id = report['run'].get('id', '')
    versions = {}
    for row in report['rows']:
        if row['device_id']:
            entry = dict((key, row[key]) for key in (
                'device_id', 'product_id', 'type', 'package_version'))
            # Empty when a flash left the version unknown.
            entry['active'] = row['active_after']
            versions.setdefault(row['server'], []).append(entry)
    for server in report['servers']:
        name = server['server']
        known = dict(servers.get(name, {}))
        known.update(outcome=server['outcome'], run=run_id,
                     reboot_required=server['reboot_required'])
        if server['outcome'] not in (UNREACHABLE, NOT_REACHED):
            known.update(last_seen=seen, versions=versions.get(name, []))
        servers[name] = known
    return dict(servers=servers)


def render_json(data):
    return json.dumps(data, indent=2, sort_keys=True) + '\n'


def csv_cell(value):
    text = str(value)
    return "'" + text if text.startswith(FORMULA_START) else text


def render_csv(report):
    out = io.StringIO()
    writer = csv.DictWriter(out, fieldnames=COLUMNS, lineterminator='\n')
    writer.writeheader()
    for row in report['rows']:
        writer.writerow(dict((key, csv_cell(value))
                             for key, value in row.items()))
    return out.getvalue()
