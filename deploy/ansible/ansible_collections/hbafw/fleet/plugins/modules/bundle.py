#!/usr/bin/python
# Copyright: 2026 hbafw maintainers; proprietary, see LICENSE
# Verifies the bundle archive on the controller, and unpacks it into its own
# digest-named folder on a server or removes that folder again. It never
# rewrites a folder that is present: a flash may be running from it.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: bundle
short_description: Verify, unpack or remove an hbafw bundle
description:
  - I(state=verified), on the controller, checks every file of the bundle
    archive I(src) against the archive's C(SHA256SUMS) and, with
    I(keyring), the detached signature C(SHA256SUMS.sig) with C(gpgv). It
    returns the archive's digest, which names the bundle's folder on the
    servers.
  - I(state=verified) with I(url) instead (pull mode, where each server
    fetches the archive from a mirror) only checks that I(url) is an http
    or https URL and I(digest) a SHA-256, and returns them for the servers,
    which check the archive they fetch, and its signature, themselves.
  - I(state=present) sends I(src) to the server as one archive (the action
    plugin passes it to the module), checks its digest, unpacks it into
    I(dest) (mode 0700, its missing parents made 0700 whatever the umask)
    and checks every file against the digests of the archive's own files. A
    I(dest) that is already there is checked so, never rewritten.
  - A folder on the way to I(dest) that is not root's, or that group or
    others may write (but a sticky one above, such as C(/tmp)), is refused
    with a message that names it and starts with C(unsafe server folder);
    so is a I(dest) that is a link, not root's or open to others (C(bundle
    corrupt)), or that holds a file that is not a plain file of root's alone.
  - I(state=absent) removes I(dest), unless a process still runs in it or
    a program from it (a flash that outlasted its wait); it is kept then.
  - Any mismatch fails with a message that starts with C(bundle corrupt).
version_added: 1.0.0
author: hbafw maintainers (!UNKNOWN)
options:
  src:
    description: The bundle archive on the controller.
    type: path
  url:
    description: With I(state=verified) instead of I(src), the archive's
      http or https URL on a mirror, which the servers fetch it from.
    type: str
    default: ""
  digest:
    description: SHA-256 of the archive, as I(state=verified) returned it;
      required for I(state=present), and with I(url).
    type: str
    default: ""
  dest:
    description: The bundle's folder on the server; required for
      I(state=present) and I(state=absent).
    type: path
  keyring:
    description: OpenPGP keyring for C(gpgv); when set, C(SHA256SUMS.sig)
      must be a good signature of C(SHA256SUMS) by one of its keys.
    type: path
  content:
    description: The archive, base64-encoded; set by the action plugin from
      I(src), not by the task.
    type: str
    default: ""
  state:
    description: What to do.
    type: str
    choices: [verified, present, absent]
    default: present
attributes:
  check_mode:
    description: Can run in check_mode and return changed status prediction
      without modifying the target.
    support: full
    details: I(state=verified) only reads; the others report what they
      would change.
  diff_mode:
    description: Returns details on what has changed (or would change in
      check_mode), when in diff mode.
    support: none
notes:
  - I(state=verified) needs C(gpgv) on the controller when I(keyring) is set.
'''

EXAMPLES = r'''
- name: Verify the bundle on the controller
  hbafw.fleet.bundle:
    src: /srv/hbafw/hbafw-bundle-1.0.0.tar.gz
    keyring: /srv/hbafw/release-keys.gpg
    state: verified
  delegate_to: localhost
  run_once: true
  register: checked

- name: Unpack the bundle on the server
  hbafw.fleet.bundle:
    src: /srv/hbafw/hbafw-bundle-1.0.0.tar.gz
    digest: "{{ checked.digest }}"
    dest: "/var/lib/hbafw/bundles/{{ checked.digest }}"
'''

RETURN = r'''
digest:
  description: SHA-256 of the archive.
  returned: state is verified
  type: str
  sample: 9f2c...e41
name:
  description: File name of the archive.
  returned: state is verified
  type: str
  sample: hbafw-bundle-1.0.0.tar.gz
digests:
  description: SHA-256 of every file of the archive, C(SHA256SUMS) and its
    signature included, by file name; M(hbafw.fleet.hbafw) checks the
    bundle's folder against them (I(bundle_digests)). Empty with I(url).
  returned: state is verified
  type: dict
  sample: {hbafw-qlogic: 5d41...b2a, SHA256SUMS: 0c7e...91f}
files:
  description: Names of the files C(SHA256SUMS) covers.
  returned: state is verified
  type: list
  elements: str
signed:
  description: Whether the signature was verified (with I(url), whether
    each server must verify it).
  returned: state is verified
  type: bool
path:
  description: The bundle's folder on the server.
  returned: state is present or absent
  type: str
kept:
  description: The folder stayed because a process still uses it.
  returned: state is absent and the folder is in use
  type: bool
'''

import base64
import os
import tarfile
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.hbafw.fleet.plugins.module_utils.bundle import (
    BROKEN, CORRUPT, SIGNATURE, SUMS, archive_check, archive_members,
    check_folder, file_digest, member_digests)
from ansible_collections.hbafw.fleet.plugins.module_utils.bundle import (
    place as unpack_bundle, remove as remove_bundle)
from ansible_collections.hbafw.fleet.plugins.module_utils.folders import (
    FolderError)
from ansible_collections.hbafw.fleet.plugins.module_utils.mirror import (
    archive_name, digest_problem, signature_problem, url_problem)


def verify(module, src, keyring):
    if os.path.isdir(src):
        module.fail_json(msg='%s is a folder; the rollout takes the bundle '
                         'archive that scripts/bundle makes' % src)
    digest = file_digest(src)
    with tarfile.open(src) as tar:
        members = archive_members(tar)
        digests = member_digests(tar, members)
        problems = archive_check(tar, members, digests)
        if problems:
            module.fail_json(msg='%s: %s' % (CORRUPT, '; '.join(problems)))
        if keyring:
            problem = signature_problem(module.run_command, tar, keyring,
                                        tempfile.mkdtemp(dir=module.tmpdir))
            if problem:
                module.fail_json(msg=problem)
    module.exit_json(changed=False, digest=digest, name=os.path.basename(src),
                     signed=bool(keyring), digests=digests, files=sorted(
                         name for name in members
                         if name not in (SUMS, SIGNATURE)))


def verify_url(module, url, digest, keyring):
    """Pull mode: the servers fetch and check the archive; here only what
    they are given is checked."""
    problem = url_problem(url) or digest_problem(digest)
    if keyring and not os.path.isfile(keyring):
        problem = 'the keyring %s is not a file' % keyring
    if problem:
        module.fail_json(msg=problem)
    module.exit_json(changed=False, digest=digest, name=archive_name(url),
                     signed=bool(keyring), digests={}, files=[])


def place(module, content, digest, dest):
    if module.check_mode:
        if os.path.lexists(dest):
            check_folder(dest, tidy=False)
        module.exit_json(changed=not os.path.isdir(dest), path=dest)
    changed = unpack_bundle(base64.b64decode(content), digest, dest)[0]
    module.exit_json(changed=changed, path=dest)


def remove(module, dest):
    removed, kept = remove_bundle(dest, module.check_mode)
    if kept:
        module.warn(kept)
        module.exit_json(changed=False, path=dest, kept=True)
    module.exit_json(changed=removed, path=dest)


# The action checks its task's arguments by these too, so bad input gets
# Ansible's message before the action reads any of it.
ARGUMENTS = dict(
    src=dict(type='path'),
    url=dict(type='str', default=''),
    digest=dict(type='str', default=''),
    dest=dict(type='path'),
    keyring=dict(type='path', no_log=False),
    state=dict(type='str', default='present',
               choices=['verified', 'present', 'absent']),
    content=dict(type='str', default='', no_log=True),
)
REQUIRED_IF = [('state', 'present', ['dest']), ('state', 'absent', ['dest'])]


def main():
    module = AnsibleModule(
        argument_spec=ARGUMENTS,
        required_if=REQUIRED_IF,
        supports_check_mode=True,
    )
    params = module.params
    if params['state'] == 'present' and not params['digest']:
        module.fail_json(msg='state=present needs the digest')
    try:
        if params['state'] == 'verified' and params['url']:
            verify_url(module, params['url'], params['digest'],
                       params['keyring'])
        if params['state'] == 'verified' and not params['src']:
            module.fail_json(msg='state=verified needs src or url')
        if params['state'] == 'verified':
            verify(module, params['src'], params['keyring'])
        elif params['state'] == 'present':
            place(module, params['content'], params['digest'],
                  params['dest'])
        remove(module, params['dest'])
    except BROKEN as error:
        module.fail_json(msg='%s: %s' % (CORRUPT, error))
    except FolderError as error:
        module.fail_json(msg=str(error))
    except (IOError, OSError) as error:
        module.fail_json(msg='bundle: %s' % error)


if __name__ == '__main__':
    main()
