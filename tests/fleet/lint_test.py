# ansible-lint on the rollout role and playbook. The role must be clean. The
# playbook's one finding is ansible-lint's schema wanting a literal number for
# max_fail_percentage, which Ansible itself templates; a copy with a literal
# there must be clean, so nothing else hides behind that finding.
# The example inventory must parse too.
# Usage: lint_test.py COLLECTION_DIR

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

COLLECTION = sys.argv[1]
TEMPLATED = ('max_fail_percentage: '
             '"{{ hbafw_max_fail_percentage | default(0) }}"')


class LintTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='hbafw-lint-')
        cls.env = dict(os.environ, HOME=cls.dir,
                       ANSIBLE_HOME=os.path.join(cls.dir, 'ansible'),
                       ANSIBLE_LOCAL_TEMP=os.path.join(cls.dir, 'local'),
                       XDG_CACHE_HOME=os.path.join(cls.dir, 'cache'),
                       ANSIBLE_COLLECTIONS_PATH=os.path.normpath(
                           os.path.join(COLLECTION, '..', '..', '..')),
                       NO_COLOR='1', PATH='/usr/bin:/bin')
        # Linted in a copy, so the lint's own files stay out of the tree.
        cls.copy = os.path.join(cls.dir, 'fleet')
        shutil.copytree(COLLECTION, cls.copy)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def lint(self, *paths):
        done = subprocess.run(
            ['ansible-lint', '--offline', '--nocolor', '-p'] + list(paths),
            cwd=self.copy, env=self.env, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, text=True, timeout=300)
        findings = [line for line in done.stdout.splitlines()
                    if line.startswith(('roles/', 'playbooks/'))]
        return done.returncode, findings, done.stdout

    def test_role_is_clean(self):
        code, findings, out = self.lint('roles/rollout')
        self.assertEqual((code, findings), (0, []), out)

    def test_playbook_only_finding_is_the_templated_percentage(self):
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

    def test_example_inventory(self):
        done = subprocess.run(
            ['ansible-inventory', '-i', 'examples/inventory.yml', '--list'],
            cwd=self.copy, env=self.env, stdout=subprocess.PIPE, text=True,
            timeout=60, check=True)
        inventory = json.loads(done.stdout)
        self.assertEqual(len(inventory['hbafw']['hosts']), 3)
        self.assertIn('hbafw_bundle',
                      inventory['_meta']['hostvars']['db1.example.com'])


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1])
