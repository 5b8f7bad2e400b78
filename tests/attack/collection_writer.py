# One of the collection's root writers, called as the hbafw module calls it,
# for a line of the attack table: WRITER TARGET writes TARGET (the history,
# the restart signal, the state file, or a file of the bundle folder). It
# checks nothing itself; the table's rows judge what it did. Exit 1: refused.
import hashlib
import io
import os
import sys
import tarfile

from ansible_collections.hbafw.fleet.plugins.module_utils import (
    atomic_file, bundle, server_state)


def placed(target):
    """A bundle holding TARGET's name, placed as its folder's digest."""
    data = b'<catalogue/>\n'
    sums = ('%s  %s\n' % (hashlib.sha256(data).hexdigest(),
                          os.path.basename(target))).encode()
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode='w:gz') as tar:
        for name, content in ((os.path.basename(target), data),
                              (bundle.SUMS, sums)):
            info = tarfile.TarInfo('hbafw-bundle-1.0.0/' + name)
            info.size = len(content)
            tar.addfile(info, io.BytesIO(content))
    archive = out.getvalue()
    bundle.place(archive, hashlib.sha256(archive).hexdigest(),
                 os.path.dirname(target))


WRITERS = {
    'history': lambda target: server_state.append_history(target, {'n': 1}),
    'signal': server_state.raise_signal,
    'state': lambda target: atomic_file.write_json(target, {'flashed': []}),
    'bundle': placed,
}

if __name__ == '__main__':
    try:
        WRITERS[sys.argv[1]](sys.argv[2])
    except (EnvironmentError, ValueError) as error:
        sys.exit('%s: %s' % (sys.argv[1], error))
