# The bundle archive read on the controller for the actions that hand it to
# their module as one value; the actions share it from here rather than
# importing each other.

from __future__ import absolute_import, division, print_function

import base64

from ansible.errors import AnsibleActionFail

__metaclass__ = type


def archive_content(path):
    """The archive at path on the controller, base64-encoded."""
    try:
        with open(path or '', 'rb') as handle:
            return base64.b64encode(handle.read()).decode('ascii')
    except (IOError, OSError) as error:
        raise AnsibleActionFail('cannot read the bundle: %s' % error)
