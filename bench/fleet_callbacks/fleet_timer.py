# Callback plugin for bench/fleet_rollout, written as JSON at the end of a
# playbook run to the file named by HBAFW_FLEET_TIMINGS:
# - "tasks": the wall time of every task (summed over the batches);
# - "workers": the task workers the controller started, "per_host" for
#   tasks that run on every host of the batch and "once" for run_once ones;
# - "server_cpu": with HBAFW_FLEET_SERVER_PID (the sshd of the one server
#   measured), the CPU seconds that server's processes spent in each task.
# It measures, and prints nothing.

from __future__ import absolute_import, division, print_function

import json
import os
import sys
import time

from ansible.plugins.callback import CallbackBase

# bench/simfleet.py links to the simulated fleet's module in sim/.
sys.path.insert(0, os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
import simfleet  # noqa: E402

__metaclass__ = type

DOCUMENTATION = '''
name: fleet_timer
type: aggregate
short_description: Task times, workers and server CPU for the fleet benchmark
description: Sums each task's wall time over the batches of a run, counts
  the task workers started and, for one server, the CPU its processes spent.
requirements:
  - enabled in callbacks_enabled
'''

# The actions that bypass the host loop as run_once does.
BYPASS_HOST_LOOP = ('add_host', 'ansible.builtin.add_host', 'pause',
                    'ansible.builtin.pause')
# How long a finished task's sessions may take to end on the server.
SETTLE_SECONDS = 10.0


def settled_cpu(pid):
    """CPU seconds of pid and of every process below it that ended, once
    none is left running: sshd reaps each session it forked, and each
    session the processes it ran, so the sessions' whole trees are in
    sshd's children times (cutime, cstime) when they are gone."""
    deadline = time.monotonic() + SETTLE_SECONDS
    while len(simfleet.descendants(pid)) > 1 \
            and time.monotonic() < deadline:
        time.sleep(0.02)
    with open('/proc/%d/stat' % pid) as handle:
        stat = handle.read()
    utime, stime, cutime, cstime = stat[stat.rindex(')') + 2:].split()[11:15]
    return ((int(utime) + int(stime) + int(cutime) + int(cstime))
            / os.sysconf('SC_CLK_TCK'))


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'aggregate'
    CALLBACK_NAME = 'fleet_timer'
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self):
        super(CallbackModule, self).__init__()
        self.task, self.started, self.totals = None, 0.0, {}
        self.workers = {'per_host': 0, 'once': 0}
        server = os.environ.get('HBAFW_FLEET_SERVER_PID')
        self.server = int(server) if server else None
        self.server_cpu, self.cpu_before = {}, None

    def _close(self):
        if self.task is not None:
            self.totals[self.task] = (self.totals.get(self.task, 0.0)
                                      + time.monotonic() - self.started)
            if self.server is not None:
                cpu = settled_cpu(self.server)
                self.server_cpu[self.task] = (
                    self.server_cpu.get(self.task, 0.0)
                    + cpu - self.cpu_before)
        self.task = None

    def v2_playbook_on_task_start(self, task, is_conditional):
        self._close()
        self.task, self.started = task.get_name(), time.monotonic()
        if self.server is not None:
            self.cpu_before = settled_cpu(self.server)

    def v2_playbook_on_play_start(self, play):
        self._close()

    # The strategy sends this right before it forks a WorkerProcess for one
    # host and task, and only then: for skipped tasks (their condition is
    # judged in the worker) and for includes too, never for meta tasks (the
    # strategy runs those itself). A run_once task, and an action that
    # bypasses the host loop (add_host, pause), forks once for the whole batch:
    # counted apart, as they cost per batch, not per server.
    def v2_runner_on_start(self, host, task):
        once = task.run_once
        if not isinstance(once, bool):
            once = str(once).lower() in ('true', 'yes', '1')
        once = once or task.action in BYPASS_HOST_LOOP
        self.workers['once' if once else 'per_host'] += 1

    def v2_playbook_on_stats(self, stats):
        self._close()
        with open(os.environ['HBAFW_FLEET_TIMINGS'], 'w') as out:
            json.dump(dict(tasks=self.totals, workers=self.workers,
                           server_cpu=self.server_cpu), out, indent=1)
