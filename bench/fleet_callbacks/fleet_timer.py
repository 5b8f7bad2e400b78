# Callback plugin for bench/fleet_rollout: the wall time of every task of a
# playbook run (summed over the batches), written as JSON at the end to the
# file named by HBAFW_FLEET_TIMINGS. It times, and prints nothing.

from __future__ import absolute_import, division, print_function

import json
import os
import time

from ansible.plugins.callback import CallbackBase

__metaclass__ = type

DOCUMENTATION = '''
name: fleet_timer
type: aggregate
short_description: Wall time per task, for the fleet benchmark
description: Sums each task's wall time over the batches of a run.
requirements:
  - enabled in callbacks_enabled
'''


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'aggregate'
    CALLBACK_NAME = 'fleet_timer'
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self):
        super(CallbackModule, self).__init__()
        self.task, self.started, self.totals = None, 0.0, {}

    def _close(self):
        if self.task is not None:
            self.totals[self.task] = (self.totals.get(self.task, 0.0)
                                      + time.monotonic() - self.started)
        self.task = None

    def v2_playbook_on_task_start(self, task, is_conditional):
        self._close()
        self.task, self.started = task.get_name(), time.monotonic()

    def v2_playbook_on_play_start(self, play):
        self._close()

    def v2_playbook_on_stats(self, stats):
        self._close()
        with open(os.environ['HBAFW_FLEET_TIMINGS'], 'w') as out:
            json.dump(self.totals, out, indent=1)
