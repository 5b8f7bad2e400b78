# Simulated servers for the fleet tests, the demo and the fleet benchmark: each
# server is an sshd on its own loopback address, started inside sim/sandbox
# over its own machine laid out by sim/mkmachine, with per-run keys, ssh
# config, inventory and Ansible settings that keep every write in the run's
# folder or the sandbox's overlaid /var. It asserts nothing; callers check the
# results.
# Run as a script, it does one rollout (scripts/demo uses that), or a
# rehearsal on twins laid from captured servers (scripts/rehearse).

import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SSHD = '/usr/sbin/sshd'
PORT = 2222
# Sandboxes set up at the same time while a fleet starts.
STARTING_AT_ONCE = 8
REMOTE_TMP = '/var/tmp/hbafw-ansible'
ASYNC_DIR = '/var/tmp/hbafw-async'
REMOTE_BUNDLE = '/var/lib/hbafw/bundles'
STATE_DIR = '/var/lib/hbafw/runs'
# Each kind of server: its preset (sim/machines) and the mkmachine settings
# that change it. On the QLogic preset the QLE2562 runs 2.02 and needs the
# catalogue's 3.10, which a flash gives it; the QLE2672 runs 3.28. The
# Emulex kit's flash gives both its adapters the catalogue's firmware.
KINDS = {
    'pending': ('qlogic', []),
    'current': ('qlogic', ['image.0=3.10']),
    'failing': ('qlogic', ['flash=exit 12']),
    'slow': ('qlogic', ['flash=slow 40']),
    'unreachable': ('qlogic', ['flash=slow 40']),
    'stalled': ('qlogic', ['flash=slow 40']),
    'reboot': ('qlogic', []),
    'no-adapter': ('qlogic', ['adapters=0']),
    'qlogic+emulex': ('qlogic+emulex', []),
    'qlogic+brocade': ('qlogic+brocade', []),
    'qlogic+brocade failing': ('qlogic+brocade', ['flash=exit 12']),
    'qlogic+emulex+brocade': ('qlogic+emulex+brocade', []),
    'emulex': ('emulex', ['flashed.0=US2.02A1', 'flashed.1=12.0.346.48']),
    'brocade': ('brocade', []),
}
# Inventory variables of a kind: a wait shorter than its flash, keepalives
# that give up on a frozen server in seconds, and a restart through the
# sandbox's stand-in (sim/power, sim/boot).
KIND_VARS = {
    'slow': 'hbafw_async_timeout=3',
    'stalled': ('hbafw_ssh_alive_args="-o ServerAliveInterval=1'
                ' -o ServerAliveCountMax=2"'),
    'reboot': ('hbafw_reboot=if_required '
               'hbafw_reboot_command="shutdown -r +0" '
               'hbafw_boot_id_command="cat /etc/hbafw-sim/boot 2>/dev/null'
               ' || echo 0"'),
}

SSHD_CONFIG = '''Port {port}
ListenAddress {address}
HostKey {dir}/host_key
PidFile {dir}/{name}.pid
AuthorizedKeysFile {dir}/client_key.pub
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
UseDNS no
MaxStartups 200
MaxSessions 50
LogLevel ERROR
Subsystem sftp internal-sftp
'''
SSH_CONFIG = '''Host *
  User root
  IdentityFile {dir}/client_key
  IdentitiesOnly yes
  UserKnownHostsFile {dir}/known_hosts
  StrictHostKeyChecking yes
  BatchMode yes
  ControlMaster no
  ControlPersist no
  ServerAliveInterval 5
  ServerAliveCountMax 3
  LogLevel ERROR
'''
ANSIBLE_CFG = '''[defaults]
inventory = {dir}/inventory.ini
forks = {forks}
interpreter_python = /usr/bin/python3
nocolor = true
retry_files_enabled = false
# The delegated controller tasks run as root on this host: their temporary
# files stay in the run folder, not /root/.ansible.
remote_tmp = {dir}/controller-tmp
{extra}
[ssh_connection]
ssh_args = -F {dir}/ssh_config -o ControlMaster=no -o ControlPersist=no
pipelining = true
'''


def mkmachine(repo, build, kind, folder, replace=False):
    """Lays out a server of the kind (a name of KINDS, or a preset and its
    settings) in folder; replace: over an earlier one whose sandbox may
    still run."""
    preset, settings = KINDS[kind] if isinstance(kind, str) else kind
    words = [os.path.join(repo, 'sim', 'mkmachine'), '--build', build,
             preset, folder] + (['--replace'] if replace else [])
    for setting in settings:
        words += ['--set', setting]
    subprocess.run(words, check=True)


def descendants(pid):
    """pid and every process below it, parents first."""
    children = {}
    for entry in filter(str.isdigit, os.listdir('/proc')):
        try:
            with open('/proc/%s/stat' % entry) as handle:
                stat = handle.read()
        except OSError:
            continue
        # The command name may hold spaces; the parent follows it.
        parent = int(stat[stat.rindex(')') + 2:].split()[1])
        children.setdefault(parent, []).append(int(entry))
    found = [pid]
    for parent in found:
        found.extend(children.get(parent, []))
    return found


def signal_tree(pid, number):
    """Sends the signal to pid and every process below it, children
    first."""
    for member in reversed(descendants(pid)):
        try:
            os.kill(member, number)
        except OSError:
            pass


class Fleet:
    """N simulated servers; use as a context manager so every sshd stops."""

    def __init__(self, repo, build, kinds, prefix='hbafw-fleet-',
                 names=None):
        self.repo, self.build, self.kinds = repo, build, list(kinds)
        self.dir = tempfile.mkdtemp(prefix=prefix, dir='/tmp')
        net = random.randrange(16, 240), random.randrange(1, 250)
        self.names = list(names or ['srv%02d' % (i + 1)
                                    for i in range(len(self.kinds))])
        self.addresses = ['127.%d.%d.%d' % (net + (i + 1,))
                          for i in range(len(self.kinds))]
        self.servers = []
        self.stalled = {}
        self.bundle = None
        self.home = os.path.join(self.dir, 'home')
        self.mirror = self.mirror_url = None

    def __enter__(self):
        # A terminated run still stops its servers on the way out.
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
        try:
            self._prepare()
            self._start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def machine(self, name):
        return self.path('servers', name)

    def _run(self, *args):
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)

    def _prepare(self):
        os.makedirs(self.home)
        self._run('ssh-keygen', '-q', '-t', 'ed25519', '-N', '',
                  '-f', self.path('client_key'))
        self._run('ssh-keygen', '-q', '-t', 'ed25519', '-N', '',
                  '-f', self.path('host_key'))
        with open(self.path('host_key.pub')) as handle:
            host_key = ' '.join(handle.read().split()[:2])
        with open(self.path('known_hosts'), 'w') as known:
            for address in self.addresses:
                known.write('[%s]:%d %s\n' % (address, PORT, host_key))
        with open(self.path('ssh_config'), 'w') as config:
            config.write(SSH_CONFIG.format(dir=self.dir))
        self.bundle = self.make_bundle(self.dir)
        for name, kind in zip(self.names, self.kinds):
            mkmachine(self.repo, self.build, kind, self.machine(name))
        with open(self.path('inventory.ini'), 'w') as inventory:
            inventory.write('[hbafw]\n')
            # hbafw.fleet.capture asks the tools of the machine's work/.
            for name, address, kind in zip(self.names, self.addresses,
                                           self.kinds):
                inventory.write(
                    '%s ansible_host=%s ansible_port=%d '
                    'hbafw_capture_tools_dir=%s %s\n'
                    % (name, address, PORT,
                       os.path.join(self.machine(name), 'work'),
                       KIND_VARS.get(kind, '') if isinstance(kind, str)
                       else ''))
            # Root logs in here (the sandbox has no other user); su stands
            # in for sudo, which the test machine may lack.
            inventory.write(
                '\n[hbafw:vars]\nansible_user=root\n'
                'ansible_become_method=su\n'
                'ansible_remote_tmp=%s\nansible_async_dir=%s\n'
                'hbafw_capture_scratch=/var/tmp\n'
                'hbafw_remote_dir=%s\nhbafw_bundle=%s\n'
                % (REMOTE_TMP, ASYNC_DIR, REMOTE_BUNDLE, self.bundle))
        self.configure()

    def make_bundle(self, output, sign_key=None, env=None):
        """The rollout bundle of this build, made as scripts/bundle makes
        it, with the simulated tools of the three vendors and a catalogue of
        all three (as a machine with all three has them); its path."""
        kit = self.path('bundle-kit')
        if not os.path.isdir(kit):
            mkmachine(self.repo, self.build, 'qlogic+emulex+brocade', kit)
        files = sorted(os.path.join(kit, 'work', name)
                       for name in os.listdir(os.path.join(kit, 'work')))
        args = ['cmake', '-DHBAFW_BUNDLE_BINARIES=' + os.path.join(
            self.build, 'bin'), '-DHBAFW_BUNDLE_VERSION=1.0.0',
            '-DHBAFW_BUNDLE_OUTPUT=' + output, '-DHBAFW_BUNDLE_STRIP=strip',
            # The simulated servers are this machine: its own builds run.
            '-DHBAFW_BUNDLE_ANY_SYMBOLS=ON',
            '-DHBAFW_BUNDLE_FILES=' + ';'.join(files)]
        if sign_key:
            args.append('-DHBAFW_BUNDLE_SIGN_KEY=' + sign_key)
        subprocess.run(args + ['-P', os.path.join(self.repo, 'cmake',
                                                  'Bundle.cmake')],
                       check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, env=env)
        return os.path.join(output, 'hbafw-bundle-1.0.0.tar.gz')

    def reset(self):
        """Every server laid out afresh, as before its first rollout."""
        for name, kind in zip(self.names, self.kinds):
            mkmachine(self.repo, self.build, kind, self.machine(name),
                      replace=True)

    def configure(self, forks=5, extra=''):
        with open(self.path('ansible.cfg'), 'w') as config:
            config.write(ANSIBLE_CFG.format(dir=self.dir, forks=forks,
                                            extra=extra))

    def _start(self):
        # Started a few at a time: a hundred sandboxes set up at once load two
        # cores so that one misses its start deadline, and the run fails
        # before any playbook.
        pending = list(zip(self.names, self.addresses))
        waiting = []
        while pending or waiting:
            while pending and len(waiting) < STARTING_AT_ONCE:
                name, address = pending.pop(0)
                waiting.append((name, address, self._spawn(name, address),
                                time.monotonic() + 30))
            waiting = [server for server in waiting
                       if not self._listening(*server)]
            time.sleep(0.05)

    def _spawn(self, name, address):
        """Starts the sandbox of name's sshd; its process."""
        config = self.path(name + '.sshd_config')
        with open(config, 'w') as handle:
            handle.write(SSHD_CONFIG.format(port=PORT, address=address,
                                            dir=self.dir, name=name))
        # sshd wants /run/sshd: the sandbox's own /run (root's, 0755, as a
        # server's is) holds it, never the host's. The loop stops sshd by
        # its pid should this process die unawares.
        script = ('mkdir -m 755 /run/sshd && '
                  '{ %s -D -e -f %s & sshd=$!; '
                  'while kill -0 %d $sshd 2>/dev/null; do sleep 1; done; '
                  'kill $sshd 2>/dev/null; wait $sshd; }'
                  % (SSHD, config, os.getpid()))
        with open(self.path(name + '.sshd.log'), 'w') as log:
            process = subprocess.Popen(
                [os.path.join(self.repo, 'sim', 'sandbox'),
                 self.machine(name), 'sh', '-c', script],
                stdout=log, stderr=subprocess.STDOUT)
        self.servers.append((name, address, process))
        return process

    def _listening(self, name, address, process, deadline):
        if process.poll() is not None:
            with open(self.path(name + '.sshd.log')) as log:
                raise SandboxExit(process.returncode, log.read())
        if os.path.exists(self.path(name + '.pid')):
            try:
                socket.create_connection((address, PORT), 1).close()
                return True
            except OSError:
                pass
        if time.monotonic() > deadline:
            raise RuntimeError('sshd of %s did not start' % name)
        return False

    def serve(self, folder):
        """A web server on 127.0.0.1 (python3's http.server, in the sandbox
        over the bundle kit's machine) serving folder, for pull mode; its
        base URL. stop() ends it."""
        with socket.socket() as probe:
            probe.bind(('127.0.0.1', 0))
            port = probe.getsockname()[1]
        log = open(self.path('mirror.log'), 'w')
        self.mirror = subprocess.Popen(
            [os.path.join(self.repo, 'sim', 'sandbox'),
             self.path('bundle-kit'), '/usr/bin/python3', '-m', 'http.server',
             '--bind', '127.0.0.1', '--directory', folder, str(port)],
            stdout=log, stderr=subprocess.STDOUT)
        log.close()
        deadline = time.monotonic() + 30
        while True:
            try:
                socket.create_connection(('127.0.0.1', port), 1).close()
                self.mirror_url = 'http://127.0.0.1:%d/' % port
                return self.mirror_url
            except OSError:
                if self.mirror.poll() is not None or \
                        time.monotonic() > deadline:
                    raise RuntimeError('the mirror did not start')
                time.sleep(0.05)

    def stall_server(self, name):
        """Freeze one server's sshd and its sessions: connections stay open
        and nothing answers, as a hung server. stop_server ends them."""
        with open(self.path(name + '.pid')) as handle:
            pids = descendants(int(handle.read()))
        for pid in pids:
            os.kill(pid, signal.SIGSTOP)
        self.stalled[name] = pids

    def stop_server(self, name):
        """Stop one server's sshd (its sessions go on, unless it was
        stalled: they end too), as a lost server."""
        stalled = self.stalled.pop(name, [])
        for number, pid in enumerate(stalled):
            try:
                os.kill(pid, signal.SIGCONT)
                if number > 0:
                    os.kill(pid, signal.SIGTERM)
            except OSError:
                pass
        pid_file = self.path(name + '.pid')
        with open(pid_file) as handle:
            os.kill(int(handle.read()), signal.SIGTERM)
        # stop() must not signal the same number again: it may be reused.
        try:
            os.remove(pid_file)
        except OSError:
            pass

    def stop(self):
        """Stop each sshd by the pid it wrote, then reap its sandbox; and
        the mirror with the processes below it."""
        if self.mirror:
            signal_tree(self.mirror.pid, signal.SIGTERM)
            self.mirror.wait()
            self.mirror = None
        for name in list(self.stalled):
            self.stop_server(name)
        for name, _, process in self.servers:
            try:
                with open(self.path(name + '.pid')) as handle:
                    os.kill(int(handle.read()), signal.SIGTERM)
            except (OSError, ValueError):
                pass
        # An sshd that had not written its pid file yet (a start that failed
        # part way) is stopped with its sandbox, by the sandbox's pid: one
        # deadline for all, not a wait per server.
        deadline = time.monotonic() + 10
        for name, _, process in self.servers:
            try:
                process.wait(timeout=max(0, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                signal_tree(process.pid, signal.SIGKILL)
                process.wait()
        self.servers = []

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def environment(self, collections):
        env = dict(os.environ)
        env.update(HOME=self.home, ANSIBLE_CONFIG=self.path('ansible.cfg'),
                   ANSIBLE_HOME=self.path('ansible-home'),
                   ANSIBLE_LOCAL_TEMP=self.path('ansible-local'),
                   ANSIBLE_COLLECTIONS_PATH=collections,
                   XDG_CACHE_HOME=self.path('cache'), ANSIBLE_NOCOLOR='1',
                   PATH='/usr/bin:/bin:/usr/sbin:/sbin')
        return env

    def playbook(self, collections, *args, timeout=600,
                 name='hbafw.fleet.rollout'):
        """Run the playbook (the rollout); (exit code, combined output).
        While it runs, self.running is its process (a test may kill it).
        One that outlasts timeout is killed with its workers, and its
        output says so: closing its pipe alone leaves it waiting forever."""
        with subprocess.Popen(
                ['ansible-playbook', name] + list(args),
                env=self.environment(collections), cwd=self.dir,
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                text=True, start_new_session=True) as self.running:
            try:
                out = self.running.communicate(timeout=timeout)[0]
            except subprocess.TimeoutExpired:
                os.killpg(self.running.pid, signal.SIGKILL)
                out = self.running.communicate()[0] + (
                    '\n(killed after %d s)\n' % timeout)
        return self.running.returncode, out


def lose_when_flashing(fleet, name, over):
    """Stops name's sshd as soon as one of its tools starts to flash (a
    server lost mid-flash; the flash goes on), unless over is set first."""
    calls = [os.path.join(fleet.machine(name), 'sim', tool, 'calls')
             for tool in ('qlafwupdate', 'elxflash', 'bcu')]

    def watch():
        while not any(os.path.exists(path) for path in calls):
            if over.wait(0.05):
                return
        fleet.stop_server(name)
    thread = threading.Thread(target=watch, daemon=True)
    thread.start()
    return thread


class SandboxExit(RuntimeError):
    """The sandbox ended before sshd listened; 77 means it cannot run here."""

    def __init__(self, code, log):
        RuntimeError.__init__(self, 'sandbox exited %d: %s' % (code, log))
        self.code = code


def twins(captures, settings):
    """The twin of every server captured in captures (one folder each, as
    hbafw.fleet.capture leaves them), with its HOST:KEY=VALUE settings:
    (names, kinds)."""
    names = sorted(name for name in os.listdir(captures)
                   if os.path.isdir(os.path.join(captures, name)))
    kinds = [('capture:' + os.path.abspath(os.path.join(captures, name)),
              [setting.split(':', 1)[1] for setting in settings
               if setting.split(':', 1)[0] == name]) for name in names]
    return names, kinds


def main(argv):
    """simfleet.py REPO BUILD KIND[,KIND...] REPORT_DIR [PLAYBOOK_ARGS...]:
    one rollout over fresh simulated servers, its output shown; the exit
    status is ansible-playbook's (77 when the sandbox cannot run here).
    KIND twins:CAPTURES rehearses on the captured servers' twins, each
    changed by --set HOST:KEY=VALUE words before the playbook's, and lost
    the moment its flash starts by --lose HOST; its report is marked as a
    rehearsal."""
    repo, build, kinds, report = argv[:4]
    args, names, extra, lost = argv[4:], None, [], []
    if kinds.startswith('twins:'):
        settings = []
        while len(args) > 1 and args[0] in ('--set', '--lose'):
            (settings if args[0] == '--set' else lost).append(args[1])
            args = args[2:]
        names, kinds = twins(kinds[len('twins:'):], settings)
        extra = ['-e', 'hbafw_rehearsal=true']
    else:
        kinds = kinds.split(',')
    fleet = Fleet(repo, build, kinds, names=names)
    over = threading.Event()
    try:
        with fleet:
            watchers = [lose_when_flashing(fleet, name, over)
                        for name in lost]
            code, out = fleet.playbook(
                os.path.join(repo, 'deploy', 'ansible'),
                '-e', 'hbafw_report_dir=' + os.path.abspath(report),
                *(extra + list(args)))
            over.set()
            for watcher in watchers:
                watcher.join()
            print(out, end='')
            return code
    except SandboxExit as error:
        print(error)
        return error.code if error.code == 77 else 1
    finally:
        fleet.remove()


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
