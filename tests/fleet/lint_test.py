# ansible-lint's production profile on the whole collection, with the
# collection on the collections path so its own modules' arguments are checked.
# The ignored findings (.ansible-lint-ignore) are ansible-lint's schema
# wanting a literal number for max_fail_percentage, which Ansible itself
# templates (a copy with a literal there must be clean, so nothing else hides
# behind that finding), and its schema of the execution environment, older
# than the version 3 format: the definition's fields are checked here, and
# each bindep.txt name is a package of its platform (Debian's by apt-cache,
# RHEL 9's by the list below). The roles' argument specs run before anything
# else, and the example inventory parses.
# Usage: lint_test.py COLLECTION_DIR

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import yaml

COLLECTION = sys.argv[1]
TEMPLATED = ('max_fail_percentage: '
             '"{{ hbafw_max_fail_percentage | default(0) }}"')
# Playbook, the argument spec it checks first, extra vars -> Ansible's own
# validation message, before any server is touched.
ARGUMENT_ROWS = [
    ('hbafw.fleet.rollout', 'main', [],
     'missing required arguments: hbafw_bundle'),
    ('hbafw.fleet.rollout', 'main',
     ['-e', 'hbafw_bundle=/nowhere.tar.gz', '-e', 'hbafw_reboot=yes'],
     'value of hbafw_reboot must be one of: never, if_required, always, '
     'got: yes'),
    ('hbafw.fleet.rollout', 'main',
     ['-e', 'hbafw_bundle=/nowhere.tar.gz', '-e', 'hbafw_task_timeout=soon'],
     "argument 'hbafw_task_timeout' is of type <class 'str'> and we were "
     "unable to convert to int"),
    # A bad value one server of several gives in the inventory.
    ('hbafw.fleet.rollout', 'main',
     ['-i', '{dir}/hosts.ini', '-e', 'hbafw_target=all',
      '-e', 'hbafw_bundle=/nowhere.tar.gz'],
     'value of hbafw_reboot must be one of: never, if_required, always, '
     'got: sometimes'),
    ('hbafw.fleet.install', 'main', [],
     'missing required arguments: hbafw_repo_key, hbafw_repo_url'),
]

# RHEL 9 BaseOS/AppStream names of what bindep.txt asks for: gnupg2 holds
# gpgv there, openssh-clients the SSH client.
RHEL_PACKAGES = {'gnupg2', 'openssh-clients'}
BINDEP = re.compile(r'^([a-z0-9][a-z0-9.+-]*) \[platform:(dpkg|rpm)\]$')


class LintTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='hbafw-lint-')
        cls.env = dict(os.environ, HOME=cls.dir,
                       ANSIBLE_HOME=os.path.join(cls.dir, 'ansible'),
                       ANSIBLE_LOCAL_TEMP=os.path.join(cls.dir, 'local'),
                       XDG_CACHE_HOME=os.path.join(cls.dir, 'cache'),
                       # With the slash, ansible-lint's runtime looks here
                       # (it takes the parent of the last component).
                       ANSIBLE_COLLECTIONS_PATH=cls.dir + '/',
                       NO_COLOR='1', PATH='/usr/bin:/bin')
        # Linted in a copy, so the lint's own files stay out of the tree.
        cls.copy = os.path.join(cls.dir, 'ansible_collections', 'hbafw',
                                'fleet')
        shutil.copytree(COLLECTION, cls.copy)
        with open(os.path.join(cls.dir, 'hosts.ini'), 'w') as hosts:
            hosts.write('srv01 ansible_connection=local\n'
                        'srv02 ansible_connection=local '
                        'hbafw_reboot=sometimes\n'
                        'srv03 ansible_connection=local hbafw_reboot=always\n')

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def lint(self, *paths):
        done = subprocess.run(
            ['ansible-lint', '--offline', '--nocolor', '-p',
             '--profile', 'production'] + list(paths),
            cwd=self.copy, env=self.env, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, text=True, timeout=300)
        # Findings listed as ignored (.ansible-lint-ignore) come before these.
        _, listed, fatal = done.stdout.rpartition('that are fatal')
        if not listed:
            fatal = ''
        findings = [line for line in fatal.splitlines()
                    if line.startswith(('roles/', 'playbooks/', 'galaxy',
                                        'meta/', 'changelogs/'))]
        return done.returncode, findings, done.stdout

    def test_collection_passes_production_profile(self):
        code, findings, out = self.lint()
        self.assertEqual((code, findings), (0, []), out)
        self.assertIn('Passed with production profile', out)
        self.assertNotIn('Unable to resolve FQCN', out)

    def test_playbook_only_finding_is_the_templated_percentage(self):
        ignore = os.path.join(self.copy, '.ansible-lint-ignore')
        os.rename(ignore, ignore + '.off')
        self.addCleanup(os.rename, ignore + '.off', ignore)
        code, findings, out = self.lint('playbooks/rollout.yml')
        self.assertNotEqual(code, 0, out)
        self.assertEqual(len(findings), 1, out)
        self.assertIn('schema[playbook]', findings[0])
        self.assertIn('max_fail_percentage', out)

        path = os.path.join(self.copy, 'playbooks', 'rollout.yml')
        with open(path) as handle:
            text = handle.read()
        self.assertIn(TEMPLATED, text)
        with open(path, 'w') as handle:
            handle.write(text.replace(TEMPLATED, 'max_fail_percentage: 0'))
        code, findings, out = self.lint('playbooks/rollout.yml')
        self.assertEqual((code, findings), (0, []), out)

    def test_role_arguments_are_validated_first(self):
        for playbook, spec, extra, message in ARGUMENT_ROWS:
            done = subprocess.run(
                ['ansible-playbook', '-i', 'localhost,', '-c', 'local',
                 '-e', 'hbafw_target=localhost', playbook]
                + [word.format(dir=self.dir) for word in extra],
                cwd=self.dir, env=self.env, stdout=subprocess.PIPE,
                stderr=subprocess.STDOUT, text=True, timeout=120)
            self.assertNotEqual(done.returncode, 0, extra)
            self.assertIn("Validating arguments against arg spec '%s'"
                          % spec, done.stdout, extra)
            self.assertIn(message, done.stdout, extra)

    def test_example_inventory(self):
        done = subprocess.run(
            ['ansible-inventory', '-i', 'examples/inventory.yml', '--list'],
            cwd=self.copy, env=self.env, stdout=subprocess.PIPE, text=True,
            timeout=60, check=True)
        inventory = json.loads(done.stdout)
        self.assertEqual(len(inventory['hbafw']['hosts']), 3)
        self.assertIn('hbafw_bundle',
                      inventory['_meta']['hostvars']['db1.example.com'])

    def test_execution_environment_definition(self):
        with open(os.path.join(COLLECTION, 'meta',
                               'execution-environment.yml')) as handle:
            definition = yaml.safe_load(handle)
        self.assertEqual(definition['version'], 3)
        self.assertTrue(definition['images']['base_image']['name'])
        needs = definition['dependencies']
        self.assertIn('ansible-core', needs['ansible_core']['package_pip'])
        self.assertIn('ansible-runner',
                      needs['ansible_runner']['package_pip'])
        self.assertEqual((needs['python'], needs['system']),
                         ('requirements.txt', 'bindep.txt'))
        with open(os.path.join(COLLECTION, 'bindep.txt')) as handle:
            lines = [line.strip() for line in handle
                     if line.strip() and not line.startswith('#')]
        found = {'dpkg': set(), 'rpm': set()}
        for line in lines:
            match = BINDEP.match(line)
            self.assertTrue(match, 'not "NAME [platform:dpkg|rpm]": ' + line)
            found[match.group(2)].add(match.group(1))
        self.assertEqual(found['rpm'], RHEL_PACKAGES)
        self.assertEqual(len(found['dpkg']), len(RHEL_PACKAGES))
        for name in sorted(found['dpkg']):
            shown = subprocess.run(['apt-cache', 'show', '--no-all-versions',
                                    name], stdout=subprocess.PIPE, text=True)
            self.assertIn('Package: %s\n' % name, shown.stdout,
                          name + ' is no Debian package')


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1])
