# The fleet report's HTML pages: a run's report and the fleet's state across
# runs, drawn from fleet_rows' report. The pages fetch nothing, work without
# their script and never need sideways scrolling. It reads and writes no
# file and decides no outcome.

from __future__ import absolute_import, division, print_function

import json
from html import escape
from urllib.parse import quote

__metaclass__ = type

from ansible_collections.hbafw.fleet.plugins.module_utils.fleet_rows import (
    COLUMNS, file_name)
from ansible_collections.hbafw.fleet.plugins.module_utils.outcomes import (
    BUNDLE_CORRUPT, BUSY, CHECK_NOT_RUN, COMPLIANT, CURRENT, CURRENT_REBOOT,
    FAILED, NEWER, NO_ADAPTER, NOT_COMPARED, NOT_LISTED, NOT_REACHED,
    NOT_VERIFIED, REBOOT_REQUIRED, REPORT_ORDER as OUTCOMES, RETRY, SKIPPED,
    STARTED, STILL_FLASHING, UNREACHABLE, UPDATE_AVAILABLE, UPDATED,
    UPDATED_REBOOT, VERSION_UNREADABLE, WOULD_UPDATE)

COLOURS = {FAILED: '#c62828', NOT_VERIFIED: '#ad1457',
           BUNDLE_CORRUPT: '#6a1b9a', UNREACHABLE: '#4e342e',
           STARTED: '#d84315', STILL_FLASHING: '#f9a825', BUSY: '#8d6e63',
           NOT_REACHED: '#6d4c41', SKIPPED: '#ef6c00',
           UPDATED_REBOOT: '#00838f', CURRENT_REBOOT: '#78909c',
           UPDATED: '#2e7d32', WOULD_UPDATE: '#1565c0', CURRENT: '#607d8b',
           NO_ADAPTER: '#9e9e9e', REBOOT_REQUIRED: '#0277bd',
           UPDATE_AVAILABLE: '#5e35b1', COMPLIANT: '#558b2f',
           NOT_COMPARED: '#90a4ae', CHECK_NOT_RUN: '#e65100',
           VERSION_UNREADABLE: '#b71c1c', NOT_LISTED: '#880e4f',
           NEWER: '#00695c'}
# A rollout run against twins of the servers (hbafw.fleet.capture), not them.
REHEARSAL = 'Rehearsal on twins of the fleet, no real server touched:'
# Until a run's last write, its banner says so.
NOT_FINISHED = 'did not finish'
UNFINISHED = (NOT_FINISHED + ': servers whose update started may be '
              'flashing; last written %s')
HEADINGS = ('Server', 'Device', 'Product', 'Item', 'Before', 'Package',
            'Action', 'After', 'Outcome', 'Exit', 'Message', 'Logs')
# Column widths in percent: the table fits the window, long texts wrap.
WIDTHS = (10, 10, 9, 8, 6, 7, 8, 6, 10, 4, 14, 8)


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
    signature = ', signature verified' if bundle.get('signed') else ''
    facts = [('Bundle', '%s (%s%s)' % (bundle.get('name', ''),
                                       bundle.get('digest', ''), signature)),
             ('Started', run.get('started', '')),
             ('Ended', run.get('ended', '') if run.get('finished')
              else UNFINISHED % run.get('ended', '')),
             ('Operator', run.get('operator', '')),
             ('Ansible', run.get('ansible_version', '')),
             ('Ramp', json.dumps(run.get('ramp', ''))),
             ('Failure threshold', '%s%%' % run.get('threshold', ''))]
    out = ['<section class="banner%s" id="banner"><strong>%s</strong>'
           '<dl class="summary">' % (
               ' check' if check or run.get('rehearsal') else '',
               'Check run: nothing was flashed' if check
               else '%s run %s%s' % (
                   REHEARSAL if run.get('rehearsal') else 'Rollout',
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
    present = set(known.get('outcome') for _name, known in servers)
    return _page('hbafw fleet state', [
        '<h1>hbafw fleet state</h1><p>Every server\'s latest known state, '
        'merged across runs.</p>',
        _controls([o for o in OUTCOMES if o in present], len(table)),
        _table(('Server', 'Outcome', 'Reboot required', 'Active versions',
                'Last seen', 'Run'), (14, 14, 9, 35, 14, 14), table)])
