# Runs ansible-playbook under Python's profiler, counting CPU time, not wall
# time: the controller's main process and every task worker it forks, each
# into a file of its own in a folder. bench/fleet_rollout --profile sums
# them; ssh and the other programs the controller starts are not Python and
# stay outside.
#
# Usage: python3 fleet_profiled.py FOLDER [ANSIBLE_PLAYBOOK_ARGS...]

import cProfile
import os
import sys
import time


def profiled(run, folder):
    """run, profiled into folder/worker-PID.prof each time it is called."""
    def wrapped(self):
        profile = cProfile.Profile(time.process_time)
        try:
            return profile.runcall(run, self)
        finally:
            profile.dump_stats(os.path.join(
                folder, 'worker-%d.prof' % os.getpid()))
    return wrapped


def main(folder, args):
    # Imported here: the module must be loadable without Ansible.
    from ansible.cli.playbook import main as playbook
    from ansible.executor.process import worker
    worker.WorkerProcess._run = profiled(worker.WorkerProcess._run, folder)
    sys.argv = ['ansible-playbook'] + args
    profile = cProfile.Profile(time.process_time)
    try:
        profile.runcall(playbook)
    finally:
        profile.dump_stats(os.path.join(folder, 'main.prof'))


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2:])
