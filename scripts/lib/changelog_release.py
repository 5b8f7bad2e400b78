"""Releases the collection's changelog fragments as VERSION, in the format of
antsibull-changelog (which Debian does not package): folds every fragment into
changelogs/changelog.yaml, removes them and renders CHANGELOG.rst. A version
already released takes the new fragments in. It never touches galaxy.yml.

Usage: python3 scripts/lib/changelog_release.py COLLECTION_DIR VERSION DATE
       [--module NAME DESCRIPTION] [--playbook NAME DESCRIPTION]
"""

import os
import sys

import yaml

OBJECT_TITLES = (('modules', 'New Modules'), ('playbook', 'New Playbooks'),
                 ('role', 'New Roles'))


class Dumper(yaml.SafeDumper):
    """Lists indented under their key, as the changelog has them."""

    def increase_indent(self, flow=False, indentless=False):
        return super(Dumper, self).increase_indent(flow, False)


def fold(changelog, version, date, fragments_dir, modules, playbooks):
    config_sections = changelog['config']['sections']
    release = changelog['releases'].setdefault(version, {})
    release['release_date'] = date
    changes = release.setdefault('changes', {})
    names = release.setdefault('fragments', [])
    present = os.listdir(fragments_dir) if os.path.isdir(fragments_dir) else []
    for name in sorted(n for n in present if not n.startswith('.')):
        path = os.path.join(fragments_dir, name)
        with open(path) as handle:
            fragment = yaml.safe_load(handle) or {}
        for section, entries in fragment.items():
            if section == 'trivial':
                continue
            if section == 'release_summary':
                changes[section] = entries
                continue
            if section not in dict(config_sections):
                raise SystemExit('%s: unknown section %s' % (name, section))
            changes.setdefault(section, []).extend(
                ' '.join(entry.split()) for entry in entries)
        names.append(name)
        os.remove(path)
    for name, description in modules:
        release.setdefault('modules', []).append(dict(
            description=description, name=name, namespace=''))
    for name, description in playbooks:
        release.setdefault('objects', {}).setdefault('playbook', []).append(
            dict(description=description, name=name, namespace=None))


def heading(text, mark):
    return '%s\n%s\n\n' % (text, mark * len(text))


def render(changelog, config):
    title = '%s Release Notes' % config['title']
    out = '=' * len(title) + '\n' + heading(title, '=') + \
        '.. contents:: Topics\n\n\n'
    releases = changelog['releases']
    for version in sorted(releases, reverse=True,
                          key=lambda v: [int(p) for p in v.split('.')]):
        release = releases[version]
        out += heading('v%s' % version, '=')
        changes = release.get('changes', {})
        if 'release_summary' in changes:
            out += heading(config['prelude_section_title'], '-') + \
                ' '.join(changes['release_summary'].split()) + '\n\n'
        for section, section_title in config['sections']:
            if changes.get(section):
                out += heading(section_title, '-') + ''.join(
                    '- %s\n' % entry for entry in changes[section]) + '\n'
        objects = dict(release.get('objects', {}),
                       modules=release.get('modules', []))
        for kind, kind_title in OBJECT_TITLES:
            if objects.get(kind):
                out += heading(kind_title, '-') + ''.join(
                    '- hbafw.fleet.%s - %s\n' % (o['name'], o['description'])
                    for o in sorted(objects[kind], key=lambda o: o['name'])
                ) + '\n'
    return out.rstrip('\n') + '\n'


def main(argv):
    collection, version, date = argv[1:4]
    modules, playbooks, rest = [], [], argv[4:]
    while rest:
        kind, name, description = rest[:3]
        (modules if kind == '--module' else playbooks).append(
            (name, description))
        rest = rest[3:]
    folder = os.path.join(collection, 'changelogs')
    with open(os.path.join(folder, 'config.yaml')) as handle:
        config = yaml.safe_load(handle)
    with open(os.path.join(folder, 'changelog.yaml')) as handle:
        changelog = yaml.safe_load(handle)
    changelog['config'] = config
    fold(changelog, version, date, os.path.join(folder, 'fragments'),
         modules, playbooks)
    del changelog['config']
    with open(os.path.join(folder, 'changelog.yaml'), 'w') as handle:
        handle.write('---\n')
        yaml.dump(changelog, handle, Dumper=Dumper, default_flow_style=False,
                  sort_keys=True, width=79, indent=2)
    with open(os.path.join(collection, 'CHANGELOG.rst'), 'w') as handle:
        handle.write(render(changelog, config))


if __name__ == '__main__':
    main(sys.argv)
