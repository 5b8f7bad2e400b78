# The fleet report built on the controller from what the rollout kept per
# server: one row per server and firmware item, failed servers first, a
# summary, the JSON, CSV and HTML renderings, the retry list, and the fleet
# state merged across runs. It reads and writes no file; the fleet_report
# module does that. The HTML pages fetch nothing, work without their script
# and never need sideways scrolling.

from __future__ import absolute_import, division, print_function

import csv
import io
import json
import re
from html import escape
from urllib.parse import quote

__metaclass__ = type

from ansible_collections.hbafw.fleet.plugins.module_utils.outcomes import (
    BUNDLE_CORRUPT, BUSY, CURRENT, CURRENT_REBOOT, FAILED, NEEDS_PERSON,
    NO_ADAPTER, NOT_REACHED, NOT_VERIFIED, PENDING, REPORT_ORDER as OUTCOMES,
    RETRY, SKIPPED, STARTED, STILL_FLASHING, UNREACHABLE, UPDATED,
    UPDATED_REBOOT, WOULD_UPDATE)

COLOURS = {FAILED: '#c62828', NOT_VERIFIED: '#ad1457',
           BUNDLE_CORRUPT: '#6a1b9a', UNREACHABLE: '#4e342e',
           STARTED: '#d84315', STILL_FLASHING: '#f9a825', BUSY: '#8d6e63',
           NOT_REACHED: '#6d4c41', SKIPPED: '#ef6c00',
           UPDATED_REBOOT: '#00838f', CURRENT_REBOOT: '#78909c',
           UPDATED: '#2e7d32', WOULD_UPDATE: '#1565c0', CURRENT: '#607d8b',
           NO_ADAPTER: '#9e9e9e'}
FLASHED = (UPDATED, UPDATED_REBOOT, WOULD_UPDATE)
# Outcomes after which a server runs what it ran before.
UNCHANGED = (CURRENT, CURRENT_REBOOT, NO_ADAPTER, WOULD_UPDATE, SKIPPED,
             NOT_REACHED, BUSY)
STOPPED_BEFORE = 'the rollout stopped before its batch'
NOT_YET = 'its batch had not begun when this report was written'
# Until a run's last write, its banner says so.
NOT_FINISHED = 'did not finish'
UNFINISHED = (NOT_FINISHED + ': servers whose update started may be '
              'flashing; last written %s')

COLUMNS = ('server', 'device_id', 'product_id', 'type', 'active_before',
           'package_version', 'action', 'active_after', 'outcome',
           'exit_code', 'message', 'reboot_required')
HEADINGS = ('Server', 'Device', 'Product', 'Item', 'Before', 'Package',
            'Action', 'After', 'Outcome', 'Exit', 'Message', 'Logs')
# Column widths in percent: the table fits the window, long texts wrap.
WIDTHS = (10, 10, 9, 8, 6, 7, 8, 6, 10, 4, 14, 8)
LOG_KINDS = ('bundle', 'discovery', 'update')
# A cell a spreadsheet would take for a formula.
FORMULA_START = ('=', '+', '-', '@', '\t', '\r')


def server_outcome(record, finished=True):
    """(outcome, exit code or None, message) of one server's records, in a
    run that finished or did not (yet)."""
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
                'discovery') or {}).get('reboot_required')),
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


def _chart(counts):
    """A horizontal bar per outcome; bars scale to the largest count."""
    shown = [outcome for outcome in OUTCOMES if counts[outcome]]
    largest = max([counts[outcome] for outcome in shown] or [1])
    bar_height, gap, label_width, width = 22, 6, 170, 500
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
th, td { border: 1px solid #ccc; padding: 3px 4px; text-align: left;
         vertical-align: top; overflow-wrap: break-word; font-size: 12px; }
th { background: #eee; font-size: 11px; }
th[aria-sort] { cursor: pointer; }
th[aria-sort=ascending]::after { content: " \\25B2"; }
th[aria-sort=descending]::after { content: " \\25BC"; }
dl.summary { display: flex; flex-wrap: wrap; gap: 0.4em 1.5em; }
dl.summary div { display: flex; gap: 0.4em; }
dt { font-weight: bold; } dd { margin: 0; overflow-wrap: anywhere; }
.banner { padding: 0.5em 1em; border-left: 6px solid #2e7d32;
          background: #f1f8e9; }
.banner.check { border-color: #1565c0; background: #e3f2fd; }
.attention td { background: #fdecea; }
#controls { margin: 0.5em 0; display: flex; flex-wrap: wrap; gap: 1em; }
table.matrix { width: auto; max-width: 100%; }
'''

# Sorting and filtering for the one table of a page; without it the page is
# complete, only static. Sort keys compare numbers inside texts as numbers.
SCRIPT = '''
(function () {
  var table = document.getElementById('rows'), body = table.tBodies[0];
  var rows = Array.prototype.slice.call(body.rows);
  var outcome = document.getElementById('filter-outcome');
  var text = document.getElementById('filter-text');
  var compare = new Intl.Collator(undefined, {numeric: true}).compare;
  var words = rows.map(function (row) {
    return row.textContent.toLowerCase(); });
  function filter() {
    var want = outcome.value, look = text.value.toLowerCase(), shown = 0;
    rows.forEach(function (row, index) {
      var show = (!want || row.getAttribute('data-outcome') === want) &&
          words[index].indexOf(look) >= 0;
      row.hidden = !show;
      shown += show ? 1 : 0;
    });
    document.getElementById('shown').textContent = shown;
  }
  outcome.onchange = filter;
  text.oninput = filter;
  Array.prototype.forEach.call(table.tHead.rows[0].cells,
                               function (cell, column) {
    cell.setAttribute('aria-sort', 'none');
    cell.onclick = function () {
      var up = cell.getAttribute('aria-sort') !== 'ascending';
      Array.prototype.forEach.call(table.tHead.rows[0].cells, function (c) {
        c.setAttribute('aria-sort', 'none'); });
      cell.setAttribute('aria-sort', up ? 'ascending' : 'descending');
      var keyed = rows.map(function (row, index) {
        return [row.cells[column].textContent, index, row]; });
      keyed.sort(function (a, b) {
        return (up ? 1 : -1) * compare(a[0], b[0]) || a[1] - b[1]; });
      var all = document.createDocumentFragment();
      keyed.forEach(function (entry) { all.appendChild(entry[2]); });
      body.appendChild(all);
    };
  });
  document.getElementById('controls').hidden = false;
})();
'''


def _page(title, parts):
    return ''.join(
        ['<!DOCTYPE html><html lang="en"><head><meta charset="utf-8">',
         '<meta name="viewport" content="width=device-width">',
         '<title>%s</title><style>%s</style></head><body>'
         % (escape(title), STYLE)] + parts
        + ['<script>%s</script></body></html>\n' % SCRIPT])


def _controls(outcomes, count):
    options = ''.join('<option>%s</option>' % escape(outcome)
                      for outcome in outcomes)
    return ('<div id="controls" hidden><label>Outcome <select '
            'id="filter-outcome"><option value="">all</option>%s</select>'
            '</label><label>Find <input id="filter-text" type="search">'
            '</label><span><span id="shown">%d</span> rows shown; click a '
            'heading to sort</span></div>' % (options, count))


def _table(headings, widths, rows):
    """rows: (outcome, [cell html]); a row whose outcome needs attention is
    marked."""
    out = ['<table id="rows"><colgroup>']
    out.extend('<col style="width:%d%%">' % width for width in widths)
    out.append('</colgroup><thead><tr>')
    out.extend('<th>%s</th>' % escape(heading) for heading in headings)
    out.append('</tr></thead><tbody>')
    for outcome, cells in rows:
        marked = ' class="attention"' if outcome in RETRY else ''
        out.append('<tr data-outcome="%s"%s><td>%s</td></tr>' % (
            escape(outcome), marked, '</td><td>'.join(cells)))
    out.append('</tbody></table>')
    return ''.join(out)


def _banner(run):
    check = run.get('check_mode')
    bundle = run.get('bundle') or {}
    facts = [('Bundle', '%s (%s%s)' % (
                  bundle.get('name', ''), bundle.get('digest', ''),
                  ', signature verified' if bundle.get('signed') else '')),
             ('Started', run.get('started', '')),
             ('Ended', run.get('ended', '') if run.get('finished')
              else UNFINISHED % run.get('ended', '')),
             ('Operator', run.get('operator', '')),
             ('Ansible', run.get('ansible_version', '')),
             ('Ramp', json.dumps(run.get('ramp', ''))),
             ('Failure threshold', '%s%%' % run.get('threshold', ''))]
    out = ['<section class="banner%s" id="banner"><strong>%s</strong>'
           '<dl class="summary">' % (
               ' check' if check else '',
               'Check run: nothing was flashed' if check
               else 'Rollout run %s%s' % (
                   escape(run.get('id', '')),
                   '' if run.get('finished') else ': ' + NOT_FINISHED))]
    out.extend('<div><dt>%s</dt><dd>%s</dd></div>'
               % (escape(label), escape(str(value))) for label, value in facts)
    out.append('</dl></section>')
    return ''.join(out)


def _matrix(rows):
    """Firmware items per model, item and version, before and after."""
    counts = {}
    for row in rows:
        if not row['device_id']:
            continue
        for column, version in ((0, row['active_before']),
                                (1, row['active_after'])):
            if version:
                key = (row['product_id'], row['type'], version)
                counts.setdefault(key, [0, 0])[column] += 1
    out = ['<table class="matrix" id="matrix"><thead><tr><th>Model</th>'
           '<th>Item</th><th>Version</th><th>Before</th><th>After</th>'
           '</tr></thead><tbody>']
    for (model, item, version), (before, after) in sorted(counts.items()):
        out.append('<tr><td>%s</td><td>%s</td><td>%s</td><td>%d</td>'
                   '<td>%d</td></tr>' % (escape(model), escape(item),
                                         escape(version), before, after))
    out.append('</tbody></table>')
    return ''.join(out)


def render_html(report):
    summary = report['summary']
    figures = [('servers', 'Servers', summary['servers']),
               ('adapters', 'Firmware items', summary['adapters'])]
    figures += [(outcome.replace(' ', '-').replace(',', '').replace(':', ''),
                 outcome.capitalize(), summary['outcomes'][outcome])
                for outcome in OUTCOMES]
    logs = dict((server['server'], server['logs'])
                for server in report['servers'])
    out = ['<h1>hbafw fleet report</h1>', _banner(report['run']),
           '<h2>Outcomes</h2><dl class="summary" id="summary">']
    for key, label, value in figures:
        out.append('<div><dt>%s</dt><dd id="summary-%s">%d</dd></div>'
                   % (escape(label), escape(key), value))
    out.append('</dl><p>Outcomes count servers; the table has a row for '
               'each firmware item, servers that need attention first.</p>')
    out.append(_chart(summary['outcomes']))
    out.append('<h2>Firmware by model</h2>')
    out.append(_matrix(report['rows']))
    out.append('<h2>Servers and adapters</h2>')
    out.append(_controls([o for o in OUTCOMES if summary['outcomes'][o]],
                         len(report['rows'])))
    table = []
    for row in report['rows']:
        cells = [escape(str(row[column])) for column in COLUMNS[:-1]]
        cells.append(' '.join(
            '<a href="logs/%s">%s</a>' % (quote(name), escape(
                name[len(file_name(row['server'])) + 1:].rsplit('.', 1)[0]))
            for name in logs.get(row['server'], [])))
        table.append((row['outcome'], cells))
    out.append(_table(HEADINGS, WIDTHS, table))
    return _page('hbafw fleet report', out)


def render_fleet_html(fleet):
    rank = dict((outcome, number) for number, outcome in enumerate(OUTCOMES))
    servers = sorted(fleet['servers'].items(), key=lambda item: (
        rank.get(item[1].get('outcome'), len(rank)), item[0]))
    table = []
    for name, known in servers:
        versions = '; '.join(
            '%s %s %s' % (entry['product_id'], entry['type'], entry['active'])
            for entry in known.get('versions', []))
        table.append((known.get('outcome', ''), [escape(text) for text in (
            name, known.get('outcome', ''),
            'yes' if known.get('reboot_required') else 'no', versions,
            known.get('last_seen', 'never'), known.get('run', ''))]))
    present = set(known.get('outcome') for _, known in servers)
    return _page('hbafw fleet state', [
        '<h1>hbafw fleet state</h1><p>Every server\'s latest known state, '
        'merged across runs.</p>',
        _controls([o for o in OUTCOMES if o in present], len(table)),
        _table(('Server', 'Outcome', 'Reboot required', 'Active versions',
                'Last seen', 'Run'), (14, 14, 9, 35, 14, 14), table)])
