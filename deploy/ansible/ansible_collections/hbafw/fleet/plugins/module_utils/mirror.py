# Pull mode: a server fetches the bundle archive from a mirror, so the
# controller sends each server only its digest; and the check of the bundle's
# detached signature with gpgv, on the controller or on a server. Standard
# library only. It neither places nor trusts what it fetched: the caller
# checks the archive's digest first (bundle.check_arrival). A fetch follows
# redirects only to http or https (never from https to http), ends at one
# deadline however slowly the mirror sends, and stops at a size limit.

from __future__ import absolute_import, division, print_function

import os
import re
import socket
import tarfile
import time

from ansible_collections.hbafw.fleet.plugins.module_utils.bundle import (
    CHUNK, SIGNATURE, SUMS, BundleError, archive_members, archive_stream,
    unpack)
from ansible_collections.hbafw.fleet.plugins.module_utils.folders import (
    open_private)

from urllib.parse import urljoin, urlsplit

__metaclass__ = type

SCHEMES = ('http', 'https')
DIGEST = re.compile(r'^[0-9a-f]{64}$')
# A mirror that sends more than the controller states, or than this when it
# states nothing, is refused before it fills the server's disk.
LIMIT = 1 << 30
# The whole fetch, redirects included, in seconds.
TIMEOUT = 300
REDIRECTS = (301, 302, 303, 307, 308)
MAX_REDIRECTS = 10
# A fixed path, as nothing found through the caller's PATH may run as root.
GPGV = '/usr/bin/gpgv'
BAD_URL = 'bundle_url must be an http or https URL with a host: %r'
BAD_DIGEST = 'the bundle digest must be 64 hexadecimal digits, not %r'
FETCH_FAILED = 'cannot fetch the bundle from %s: %s'
TOO_LARGE = 'the mirror sends more than %d bytes'
TOO_SLOW = 'not fetched within %d seconds'
BAD_REDIRECT = 'the mirror redirects to %r: only http or https, never from ' \
    'https to http'
TOO_MANY_REDIRECTS = 'more than %d redirects'
HTTP_ERROR = 'HTTP %d %s'
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


def redirect_problem(url, target):
    """Why a redirect from url to target is not followed, or None."""
    if url_problem(target) or (urlsplit(url).scheme == 'https' and
                               urlsplit(target).scheme != 'https'):
        return BAD_REDIRECT % target
    return None


def fetch(url, out, limit=LIMIT, timeout=TIMEOUT):
    """Streams the archive at url into out (a binary file): at most limit
    bytes, all within timeout seconds, each read bounded by the time left.
    A mirror is reached directly: no proxy from the server's environment.
    https checks the mirror's certificate against the system's
    authorities. Raises IOError."""
    from http.client import HTTPException
    deadline = time.monotonic() + timeout
    try:
        for _hop in range(MAX_REDIRECTS + 1):
            response, sock = _request(url, deadline, timeout)
            if response.status not in REDIRECTS:
                break
            target = urljoin(url, response.getheader('Location') or '')
            problem = redirect_problem(url, target)
            sock.close()
            if problem:
                raise IOError(problem)
            url = target
        else:
            raise IOError(TOO_MANY_REDIRECTS % MAX_REDIRECTS)
        if response.status != 200:
            raise IOError(HTTP_ERROR % (response.status, response.reason))
        size = 0
        while True:
            sock.settimeout(_left(deadline, timeout))
            chunk = response.read1(CHUNK)
            if not chunk:
                break
            size += len(chunk)
            if size > limit:
                raise IOError(TOO_LARGE % limit)
            out.write(chunk)
        sock.close()
    except socket.timeout:
        raise IOError(FETCH_FAILED % (url, TOO_SLOW % timeout))
    # http.client's errors are not IOErrors.
    except (IOError, ValueError, HTTPException) as error:
        raise IOError(FETCH_FAILED % (url, error))


def _left(deadline, timeout):
    left = deadline - time.monotonic()
    if left <= 0:
        raise IOError(TOO_SLOW % timeout)
    return left


def _request(url, deadline, timeout):
    """The response to a GET of url, and its socket."""
    # Loaded only to pull: http.client brings email, which every other
    # call of the module would start up for nothing.
    from http.client import HTTPConnection, HTTPSConnection
    parts = urlsplit(url)
    if parts.scheme == 'https':
        import ssl
        connection = HTTPSConnection(
            parts.hostname, parts.port, timeout=_left(deadline, timeout),
            context=ssl.create_default_context())
    else:
        connection = HTTPConnection(parts.hostname, parts.port,
                                    timeout=_left(deadline, timeout))
    connection.request('GET', (parts.path or '/') + (
        '?' + parts.query if parts.query else ''))
    sock = connection.sock
    sock.settimeout(_left(deadline, timeout))
    return connection.getresponse(), sock


def write_keyring(folder, content):
    """The keyring (bytes) the controller sent, as a file of root's alone in
    a fresh private folder; its path."""
    path = os.path.join(folder, 'keyring.gpg')
    with open_private(path, 'xb') as handle:
        handle.write(content)
    return path


def signature_problem(run_command, archive, keyring, workdir):
    """Why SHA256SUMS.sig of the archive (bytes, a file, or an open tar) is
    not a good signature of its SHA256SUMS by a key of keyring, or None;
    run_command is AnsibleModule's. Unpacks both files into workdir."""
    if not isinstance(archive, tarfile.TarFile):
        with tarfile.open(fileobj=archive_stream(archive),
                          mode='r:*') as tar:
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
