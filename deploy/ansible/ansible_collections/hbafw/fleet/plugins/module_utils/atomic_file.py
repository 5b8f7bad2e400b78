# Files replaced whole, by path, for callers that hold no folder handle: the
# folder is reached through folders.open_folder and the file replaced in it
# (Folder.replace: a temporary of a unique name, its mode set whatever the
# umask, renamed over the old one). JSON read back gives a default when the
# file is missing or not JSON. It makes no folder and takes no lock.

from __future__ import absolute_import, division, print_function

import json
import os

from ansible_collections.hbafw.fleet.plugins.module_utils.folders import (
    open_folder)

__metaclass__ = type

PRIVATE = 0o600


def replace_file(path, text, mode=PRIVATE):
    with open_folder(os.path.dirname(os.path.abspath(path))) as folder:
        folder.replace(os.path.basename(path), text, mode)


def write_json(path, data, mode=PRIVATE):
    replace_file(path, json.dumps(data), mode)


def read_json(path, default=None):
    try:
        descriptor = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_CLOEXEC)
        with os.fdopen(descriptor) as handle:
            return json.load(handle)
    except (IOError, OSError, ValueError):
        return default
