# The fleet report built on the controller from the records the rollout keeps
# per server: one row per server and firmware item, a summary, and the JSON,
# CSV and HTML renderings. It reads and writes no file; the fleet_report module
# does that. The HTML page fetches nothing and never needs sideways scrolling.

from __future__ import absolute_import, division, print_function

import csv
import io
import json
from html import escape

__metaclass__ = type

from ansible_collections.hbafw.fleet.plugins.module_utils.component import (
    CURRENT, CURRENT_REBOOT, FAILED, NO_ADAPTER, NOT_VERIFIED, PENDING,
    STILL_FLASHING, UNREACHABLE, UPDATED, UPDATED_REBOOT, WOULD_UPDATE)

SKIPPED = 'skipped'
NOT_REACHED = 'not reached'
OUTCOMES = (UPDATED, UPDATED_REBOOT, WOULD_UPDATE, CURRENT, CURRENT_REBOOT,
            NO_ADAPTER, FAILED, NOT_VERIFIED, UNREACHABLE, STILL_FLASHING,
            SKIPPED, NOT_REACHED)
COLOURS = {UPDATED: '#2e7d32', UPDATED_REBOOT: '#689f38',
           WOULD_UPDATE: '#1565c0', CURRENT: '#607d8b',
           CURRENT_REBOOT: '#78909c', NO_ADAPTER: '#9e9e9e',
           FAILED: '#c62828', NOT_VERIFIED: '#ad1457',
           UNREACHABLE: '#4a148c', STILL_FLASHING: '#f9a825',
           SKIPPED: '#ef6c00', NOT_REACHED: '#6d4c41'}
# Outcomes after which a server runs what it ran before.
UNCHANGED = (CURRENT, CURRENT_REBOOT, NO_ADAPTER, WOULD_UPDATE, SKIPPED,
             NOT_REACHED)

COLUMNS = ('server', 'device_id', 'product_id', 'type', 'active_before',
           'package_version', 'action', 'active_after', 'outcome',
           'exit_code', 'message')
HEADINGS = ('Server', 'Device', 'Product', 'Item', 'Active before',
            'Package', 'Action', 'Active after', 'Outcome', 'Exit code',
            'Message')
# Column widths in percent: the table fits the window, long texts wrap.
WIDTHS = (8, 12, 11, 9, 7, 8, 8, 7, 9, 6, 15)


def server_outcome(record):
    """(outcome, exit code or None, message) of one server's record."""
    discovery = record.get('discovery')
    update = record.get('update')
    if not discovery:
        return NOT_REACHED, None, 'no discovery result: server not reached'
    # The module (and the role, for a server that stopped answering) names
    # the outcome; older records say only failed or changed.
    if discovery.get('failed'):
        return (UNREACHABLE if discovery.get('outcome') == UNREACHABLE
                else FAILED), discovery.get('exit_code'), \
            discovery.get('msg', '')
    if not update:
        if discovery.get('outcome') in (None, PENDING):
            return SKIPPED, None, 'the rollout stopped before its batch'
        return discovery['outcome'], discovery.get('exit_code'), \
            discovery.get('msg', '')
    code = update.get('exit_code')
    if update.get('outcome'):
        return update['outcome'], code, update.get('msg', '')
    if update.get('failed'):
        return FAILED, code, update.get('msg', '')
    if update.get('changed'):
        return ((WOULD_UPDATE if record.get('check_mode') else UPDATED),
                code, update.get('msg', ''))
    return CURRENT, code, update.get('msg', '')


def _item_outcome(server, item, forced):
    # The component flashes a server as a whole; an item that was no upgrade
    # is still current afterwards unless the update was forced.
    if server in (UPDATED, UPDATED_REBOOT, WOULD_UPDATE) and not forced \
            and item.get('action') != 'upgrade':
        return CURRENT
    return server


def server_rows(host, record):
    outcome, code, message = server_outcome(record)
    discovery = record.get('discovery') or {}
    update = record.get('update') or {}
    before = discovery.get('adapters') or []
    # A flash picked up by a later run's discovery has no update record.
    after = (update or discovery).get('adapters_after')
    row = dict.fromkeys(COLUMNS, '')
    row.update(server=host, outcome=outcome, message=message or '',
               exit_code='' if code is None else code)
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


def build_report(hosts, records, generated=''):
    """The whole report as plain data: summary, servers and rows."""
    servers, rows = [], []
    for host in hosts:
        record = records.get(host, {})
        outcome, code, message = server_outcome(record)
        host_rows = server_rows(host, record)
        rows.extend(host_rows)
        servers.append(dict(
            server=host, outcome=outcome, exit_code=code, message=message,
            check_mode=bool(record.get('check_mode')),
            log=((record.get('update') or {}).get('log')
                 or (record.get('discovery') or {}).get('log') or '')))
    counts = dict((outcome, 0) for outcome in OUTCOMES)
    for server in servers:
        counts[server['outcome']] += 1
    summary = dict(servers=len(servers), adapters=sum(
        1 for row in rows if row['device_id']), outcomes=counts)
    return dict(generated=generated, summary=summary, servers=servers,
                rows=rows)


def render_json(report):
    return json.dumps(report, indent=2, sort_keys=True) + '\n'


def render_csv(report):
    out = io.StringIO()
    writer = csv.DictWriter(out, fieldnames=COLUMNS, lineterminator='\n')
    writer.writeheader()
    writer.writerows(report['rows'])
    return out.getvalue()


def _chart(counts):
    """A horizontal bar per outcome; bars scale to the largest count."""
    shown = [outcome for outcome in OUTCOMES if counts[outcome]]
    largest = max([counts[outcome] for outcome in shown] or [1])
    bar_height, gap, label_width, width = 22, 6, 130, 460
    height = max(1, len(shown)) * (bar_height + gap)
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" role="img" '
             'aria-label="servers by outcome" viewBox="0 0 %d %d" '
             'width="100%%" style="max-width:%dpx">' % (width, height, width)]
    for index, outcome in enumerate(shown):
        y = index * (bar_height + gap)
        length = (width - label_width - 40) * counts[outcome] // largest
        parts.append(
            '<text x="0" y="%d" font-size="13">%s</text>'
            '<rect class="bar" data-outcome="%s" x="%d" y="%d" width="%d" '
            'height="%d" fill="%s"/><text x="%d" y="%d" font-size="13">%d'
            '</text>' % (y + 16, escape(outcome), escape(outcome),
                         label_width, y, max(length, 2), bar_height,
                         COLOURS[outcome], label_width + length + 6, y + 16,
                         counts[outcome]))
    parts.append('</svg>')
    return ''.join(parts)


STYLE = '''
body { font-family: sans-serif; margin: 1em; max-width: 100%; }
table { border-collapse: collapse; width: 100%; table-layout: fixed; }
th, td { border: 1px solid #ccc; padding: 3px 5px; text-align: left;
         vertical-align: top; overflow-wrap: break-word; font-size: 13px; }
th { background: #eee; font-size: 12px; }
dl.summary { display: flex; flex-wrap: wrap; gap: 0.4em 1.5em; }
dl.summary div { display: flex; gap: 0.4em; }
dt { font-weight: bold; } dd { margin: 0; }
pre { white-space: pre-wrap; overflow-wrap: anywhere; font-size: 12px; }
td.failed { color: #c62828; font-weight: bold; }
'''


def render_html(report):
    summary = report['summary']
    figures = [('servers', 'Servers', summary['servers']),
               ('adapters', 'Firmware items', summary['adapters'])]
    figures += [(outcome.replace(' ', '-'), outcome.capitalize(),
                 summary['outcomes'][outcome]) for outcome in OUTCOMES]
    out = ['<!DOCTYPE html><html lang="en"><head><meta charset="utf-8">',
           '<meta name="viewport" content="width=device-width">',
           '<title>hbafw fleet report</title><style>%s</style></head><body>'
           % STYLE,
           '<h1>hbafw fleet report</h1>',
           '<p>Generated %s.</p>' % escape(report['generated']),
           '<dl class="summary" id="summary">']
    for key, label, value in figures:
        out.append('<div><dt>%s</dt><dd id="summary-%s">%d</dd></div>'
                   % (escape(label), escape(key), value))
    out.append('</dl>')
    out.append('<p>Outcomes count servers; the table below has a row for '
               'each firmware item.</p>')
    out.append(_chart(summary['outcomes']))
    out.append('<h2>Servers and adapters</h2><table id="rows"><colgroup>')
    out.extend('<col style="width:%d%%">' % width for width in WIDTHS)
    out.append('</colgroup><thead><tr>')
    out.extend('<th>%s</th>' % escape(heading) for heading in HEADINGS)
    out.append('</tr></thead><tbody>')
    for row in report['rows']:
        out.append('<tr>')
        for column in COLUMNS:
            css = ' class="failed"' if (column == 'outcome'
                                        and row[column] == FAILED) else ''
            out.append('<td%s>%s</td>' % (css, escape(str(row[column]))))
        out.append('</tr>')
    out.append('</tbody></table><h2>What each run logged</h2>')
    for server in report['servers']:
        out.append('<details><summary>%s: %s</summary><pre>%s</pre>'
                   '</details>' % (escape(server['server']),
                                   escape(server['outcome']),
                                   escape(server['log'])))
    out.append('</body></html>\n')
    return ''.join(out)
