# Files replaced whole: the new text goes to a temporary file beside the old
# one, with its mode set whatever the umask, never through a link, and is
# renamed over it, so a reader sees the old file or the new one. JSON read
# back gives a default when the file is missing or not JSON. It makes no
# folder and takes no lock.

from __future__ import absolute_import, division, print_function

import json
import os

__metaclass__ = type

PRIVATE = 0o600
# Named for the package: /run/reboot-required is shared with others.
TEMPORARY = '.hbafw.new'


def replace_file(path, text, mode=PRIVATE):
    temporary = path + TEMPORARY
    if os.path.lexists(temporary):
        os.remove(temporary)
    descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL |
                         os.O_NOFOLLOW | os.O_CLOEXEC, mode)
    os.fchmod(descriptor, mode)
    with os.fdopen(descriptor, 'w') as handle:
        handle.write(text)
    os.rename(temporary, path)


def write_json(path, data, mode=PRIVATE):
    replace_file(path, json.dumps(data), mode)


def read_json(path, default=None):
    try:
        with open(path) as handle:
            return json.load(handle)
    except (IOError, OSError, ValueError):
        return default
