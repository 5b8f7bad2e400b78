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
# Read without a catalogue to compare with: what runs, not what is due.
NOT_COMPARED = 'not compared'

# Worst first: a server with several builds takes the first of its builds'
# outcomes in this order.
SEVERITY = (UNREACHABLE, FAILED, NOT_VERIFIED, BUSY, STILL_FLASHING,
            UPDATED_REBOOT, UPDATED, WOULD_UPDATE, PENDING, CURRENT_REBOOT,
            CURRENT, NO_ADAPTER)
# The report's order: what needs the operator first.
REPORT_ORDER = (FAILED, NOT_VERIFIED, BUNDLE_CORRUPT, UNREACHABLE, STARTED,
                STILL_FLASHING, BUSY, NOT_REACHED, SKIPPED, UPDATED_REBOOT,
                CURRENT_REBOOT, REBOOT_REQUIRED, UPDATED, WOULD_UPDATE,
                UPDATE_AVAILABLE, CURRENT, COMPLIANT, NOT_COMPARED,
                NO_ADAPTER)
# Outcomes that fail the server: a person has to look.
NEEDS_PERSON = (FAILED, NOT_VERIFIED, BUNDLE_CORRUPT, UNREACHABLE, STARTED,
                STILL_FLASHING, BUSY)
# Servers a re-run with --limit @retry.txt takes again; a re-run is safe, as
# its discovery decides what each server needs.
RETRY = NEEDS_PERSON + (NOT_REACHED, SKIPPED)
# Flashed firmware that waits for a restart.
WAITS_FOR_RESTART = (UPDATED_REBOOT, CURRENT_REBOOT)
