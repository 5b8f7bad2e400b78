# Pull mode: a server fetches the bundle archive from a mirror, so the
# controller sends each server only its digest; and the check of the bundle's
# detached signature with gpgv, on the controller or on a server. Standard
# library only. It neither places nor trusts what it fetched: the caller
# checks the archive's digest first (bundle.check_arrival).

from __future__ import absolute_import, division, print_function

import io
import os
import re
import tarfile

from ansible_collections.hbafw.fleet.plugins.module_utils.bundle import (
    SIGNATURE, SUMS, BundleError, archive_members, unpack)
from ansible_collections.hbafw.fleet.plugins.module_utils.folders import (
    open_private)

from urllib.parse import urlsplit

__metaclass__ = type

SCHEMES = ('http', 'https')
DIGEST = re.compile(r'^[0-9a-f]{64}$')
# The archive is held in memory, as a pushed one is; a mirror that sends more
# is refused before it fills the server's memory.
LIMIT = 1 << 30
TIMEOUT = 60
# A fixed path, as nothing found through the caller's PATH may run as root.
GPGV = '/usr/bin/gpgv'
BAD_URL = 'bundle_url must be an http or https URL with a host: %r'
BAD_DIGEST = 'the bundle digest must be 64 hexadecimal digits, not %r'
FETCH_FAILED = 'cannot fetch the bundle from %s: %s'
TOO_LARGE = 'the mirror sends more than %d bytes'
NOT_SIGNED = 'bundle not signed: %s has no %s'
BAD_SIGNATURE = 'bundle signature does not verify with %s: %s'


def url_problem(url):
    parts = urlsplit(url or '')
    if parts.scheme not in SCHEMES or not parts.netloc:
        return BAD_URL % url
    return None


def digest_problem(digest):
    return None if DIGEST.match(digest or '') else BAD_DIGEST % digest


def archive_name(url):
    """The file name a URL gives the archive, for the report."""
    return os.path.basename(urlsplit(url).path.rstrip('/')) or url


def fetch(url, limit=LIMIT, timeout=TIMEOUT):
    """The archive at url (bytes). A mirror is reached directly: proxies
    from the server's environment are not used. https checks the mirror's
    certificate against the system's authorities. Raises IOError."""
    # Loaded only to pull: urllib.request brings http.client and email, which
    # every other call of the module would start up for nothing.
    from urllib.request import ProxyHandler, build_opener
    opener = build_opener(ProxyHandler({}))
    try:
        with opener.open(url, timeout=timeout) as response:
            data = response.read(limit + 1)
    # URLError is an IOError.
    except (IOError, ValueError) as error:
        raise IOError(FETCH_FAILED % (url, getattr(error, 'reason', error)))
    if len(data) > limit:
        raise IOError(FETCH_FAILED % (url, TOO_LARGE % limit))
    return data


def write_keyring(folder, content):
    """The keyring (bytes) the controller sent, as a file of root's alone in
    a fresh private folder; its path."""
    path = os.path.join(folder, 'keyring.gpg')
    with open_private(path, 'xb') as handle:
        handle.write(content)
    return path


def signature_problem(run_command, archive, keyring, workdir):
    """Why SHA256SUMS.sig of the archive (bytes, or an open tar file) is
    not a good signature of its SHA256SUMS by a key of keyring, or None;
    run_command is AnsibleModule's. Unpacks both files into workdir."""
    if isinstance(archive, bytes):
        with tarfile.open(fileobj=io.BytesIO(archive), mode='r:*') as tar:
            return signature_problem(run_command, tar, keyring, workdir)
    try:
        members = archive_members(archive)
    except BundleError as error:
        return str(error)
    if SIGNATURE not in members:
        return NOT_SIGNED % (archive.name or 'the archive', SIGNATURE)
    unpack(archive, dict((name, members[name]) for name in (SUMS, SIGNATURE)),
           workdir)
    code, out, err = run_command(
        [GPGV, '--homedir', workdir, '--keyring', keyring,
         os.path.join(workdir, SIGNATURE), os.path.join(workdir, SUMS)])
    if code != 0:
        return BAD_SIGNATURE % (keyring, (err or out).strip())
    return None
