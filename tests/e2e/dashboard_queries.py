# Every panel query of the collection's Grafana dashboard, evaluated by a real
# Prometheus that scrapes two simulated servers: UPDATE (its QLE2562 has an
# update, its last run failed) and CURRENT (nothing to update, a restart due).
# Each panel's result must be exactly the series its row names.
# Usage: dashboard_queries.py DASHBOARD PROMETHEUS_URL UPDATE CURRENT

import json
import sys
import time
import urllib.parse
import urllib.request

DASHBOARD, URL, UPDATE, CURRENT = sys.argv[1:5]
FRESH = (0, 600)
# Panel title -> the series it must return: (labels they hold, value range).
EXPECTED = {
    'Fleet compliance': [({}, (0.5, 0.5))],
    'Update available by model and version': [
        ({'product': 'QLE2562 8Gb Dual Port FC HBA', 'active_version': '2.02',
          'package_version': '3.10'}, (1, 1))],
    'Restart due': [({'instance': CURRENT}, FRESH)],
    'Last run outcome': [({'outcome': 'failed: not verified'}, (1, 1))],
    'Metrics age': [({'instance': UPDATE}, FRESH),
                    ({'instance': CURRENT}, FRESH)],
}


def query(expr):
    url = URL + '/api/v1/query?' + urllib.parse.urlencode({'query': expr})
    with urllib.request.urlopen(url, timeout=10) as answer:
        reply = json.load(answer)
    return [(sample['metric'], float(sample['value'][1]))
            for sample in reply['data']['result']]


def matches(series, labels, bounds):
    metric, value = series
    return (all(metric.get(key) == text for key, text in labels.items())
            and bounds[0] <= value <= bounds[1])


def scraped_both():
    try:
        return [value for _, value in query('count(hbafw_adapters)')] == [2.0]
    except OSError:
        return False


def main():
    deadline = time.monotonic() + 60
    while not scraped_both():
        if time.monotonic() > deadline:
            print('FAIL: Prometheus never scraped both servers')
            return 1
        time.sleep(0.5)
    with open(DASHBOARD) as handle:
        panels = json.load(handle)['panels']
    failed = 0
    titles = sorted(panel['title'] for panel in panels)
    if titles != sorted(EXPECTED):
        print('FAIL: panels %s, rows for %s' % (titles, sorted(EXPECTED)))
        failed = 1
    for panel in panels:
        expected = EXPECTED.get(panel['title'], [])
        for target in panel['targets']:
            found = query(target['expr'])
            left = list(found)
            for labels, bounds in expected:
                hit = [series for series in left
                       if matches(series, labels, bounds)]
                if hit:
                    left.remove(hit[0])
            if len(found) != len(expected) or left:
                print('FAIL: %s: %s returned %s, not %s'
                      % (panel['title'], target['expr'], found, expected))
                failed = 1
    return failed


if __name__ == '__main__':
    sys.exit(main())
