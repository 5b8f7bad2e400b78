# A task's arguments judged on the controller by its module's own argument
# spec, so bad input ends in Ansible's one-line message, as a module's would,
# before an action reads any of it. It converts nothing the module receives.

from __future__ import absolute_import, division, print_function

from ansible.errors import AnsibleActionFail

__metaclass__ = type


def checked_arguments(action, result, **spec):
    """The task's arguments as the module's argument_spec reads them, or
    None with result marked failed by Ansible's message (no traceback
    attached)."""
    try:
        return action.validate_argument_spec(**spec)[1]
    except AnsibleActionFail as error:
        result.update(failed=True, msg=error.message)
        return None
