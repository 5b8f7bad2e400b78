# The one vocabulary of a server's outcome, shared by the hbafw and hbafw_info
# modules on the servers and the fleet report and rollout on the controller:
# every outcome's text (a rollout's and a compliance check's), which need a
# person, which a re-run takes again, and two orders (the worst of a server's
# builds; the report's). No logic lives here.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

UPDATED = 'updated'
UPDATED_REBOOT = 'updated, reboot required'
CURRENT = 'already current'
CURRENT_REBOOT = 'already current, reboot required'
WOULD_UPDATE = 'would update'
PENDING = 'update pending'
NO_ADAPTER = 'no adapter'
STILL_FLASHING = 'still flashing'
# Another firmware update holds the server's run lock.
BUSY = 'busy'
NOT_VERIFIED = 'failed: not verified'
FAILED = 'failed'
UNREACHABLE = 'unreachable'
BUNDLE_CORRUPT = 'bundle corrupt'
# Recorded as a server's update begins and replaced by its outcome, so a
# controller that dies meanwhile leaves a report that says so.
STARTED = 'update started: the flash may be running'
SKIPPED = 'skipped'
NOT_REACHED = 'not reached'
# A server's compliance, read without flashing (hbafw_info); it may also be
# NO_ADAPTER or UNREACHABLE.
COMPLIANT = 'compliant'
UPDATE_AVAILABLE = 'update available'
REBOOT_REQUIRED = 'reboot required'
# Read without a catalogue to compare with, or no vendor build could
# compare: what runs, not what is due.
NOT_COMPARED = 'not compared'
# An adapter runs a version that is not one ("N/A", empty): the comparison
# cannot tell what it needs, so nothing is flashed.
VERSION_UNREADABLE = 'version unreadable'
# A known vendor's adapters are on the PCI bus, and its build lists none of
# them (driver not loaded, a tool too old, ids unreadable).
NOT_LISTED = 'adapters not listed'
# The server runs firmware newer than the bundle's: reported, not flashed.
NEWER = 'newer than the bundle'
# Restarted, but the check after it could not run (bundle unfetchable, tool
# failed): whether the firmware is active is not known.
CHECK_NOT_RUN = 'restart check not run'

# Worst first: a server with several builds takes the first of its builds'
# outcomes in this order.
SEVERITY = (UNREACHABLE, FAILED, NOT_VERIFIED, CHECK_NOT_RUN,
            VERSION_UNREADABLE, NOT_LISTED, BUSY, STILL_FLASHING,
            UPDATED_REBOOT, UPDATED, WOULD_UPDATE, PENDING, CURRENT_REBOOT,
            NEWER, CURRENT, NO_ADAPTER)
# The report's order: what needs the operator first.
REPORT_ORDER = (FAILED, NOT_VERIFIED, BUNDLE_CORRUPT, UNREACHABLE,
                CHECK_NOT_RUN, VERSION_UNREADABLE, NOT_LISTED, STARTED,
                STILL_FLASHING, BUSY, NOT_REACHED, SKIPPED, UPDATED_REBOOT,
                CURRENT_REBOOT, REBOOT_REQUIRED, UPDATED, WOULD_UPDATE,
                UPDATE_AVAILABLE, NEWER, CURRENT, COMPLIANT, NOT_COMPARED,
                NO_ADAPTER)
# Outcomes that fail the server: a person has to look.
NEEDS_PERSON = (FAILED, NOT_VERIFIED, BUNDLE_CORRUPT, UNREACHABLE, STARTED,
                STILL_FLASHING, BUSY, CHECK_NOT_RUN, VERSION_UNREADABLE,
                NOT_LISTED)
# Of those, the ones a server's own module run fails with.
FAILS_RUN = (FAILED, NOT_VERIFIED, BUSY, CHECK_NOT_RUN, VERSION_UNREADABLE,
             NOT_LISTED)
# Servers a re-run with --limit @retry.txt takes again; a re-run is safe, as
# its discovery decides what each server needs.
RETRY = NEEDS_PERSON + (NOT_REACHED, SKIPPED)
# Flashed firmware that waits for a restart.
WAITS_FOR_RESTART = (UPDATED_REBOOT, CURRENT_REBOOT)
