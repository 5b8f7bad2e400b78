# The modules' DOCUMENTATION, EXAMPLES and RETURN are YAML that ansible-doc
# renders; a stray colon breaks them silently until someone asks for help.

import ast
import glob
import os
import unittest

import yaml

MODULES = os.path.join(os.path.dirname(__file__), '..', '..', '..', '..',
                       'plugins', 'modules', '*.py')


class DocsTest(unittest.TestCase):
    def test_every_module_documents_itself(self):
        paths = sorted(glob.glob(MODULES))
        self.assertEqual([os.path.basename(p) for p in paths],
                         ['bundle.py', 'fleet_report.py', 'hbafw.py',
                          'hbafw_info.py'])
        for path in paths:
            with open(path) as handle:
                tree = ast.parse(handle.read())
            texts = dict((node.targets[0].id, node.value.value)
                         for node in tree.body if isinstance(node, ast.Assign)
                         and isinstance(node.targets[0], ast.Name)
                         and isinstance(node.value, ast.Constant))
            with self.subTest(module=path):
                docs = yaml.safe_load(texts['DOCUMENTATION'])
                self.assertEqual(docs['module'],
                                 os.path.basename(path)[:-3])
                for name, option in docs['options'].items():
                    self.assertIn('type', option, name)
                    self.assertIn('description', option, name)
                    self.assertTrue(option.get('required')
                                    or 'default' in option
                                    or option['type'] == 'path', name)
                self.assertIsInstance(yaml.safe_load(texts['EXAMPLES']), list)
                self.assertIsInstance(yaml.safe_load(texts['RETURN']), dict)


if __name__ == '__main__':
    unittest.main()
