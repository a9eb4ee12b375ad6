# Test aid: writes each result of the collection's modules, whole as a play registers it, as
# one JSON line to the file named by KELVORA_RECORD, so the test reads what each site's task
# decided (changed, failed, ends) instead of parsing Ansible's screen output, and finds any
# credential a result would carry.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os

from ansible.plugins.callback import CallbackBase

DOCUMENTATION = '''
    name: kelvora_record
    type: aggregate
    short_description: Records the results of kelvora.fleet modules as JSON lines (tests only)
    description: Appends one JSON line per kelvora.fleet task result, whole, to the file KELVORA_RECORD names.
    requirements: [enable in configuration]
'''


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'aggregate'
    CALLBACK_NAME = 'kelvora_record'
    CALLBACK_NEEDS_ENABLED = True

    def _record(self, result, failed):
        action = result._task.action
        if not action.startswith('kelvora.fleet.'):
            return
        line = dict(result._result)
        line.update(host=result._host.get_name(), task=result._task.get_name(), action=action,
                    check_mode='plan' in result._result, failed=failed)
        with open(os.environ['KELVORA_RECORD'], 'a') as f:
            f.write(json.dumps(line, default=str) + '\n')

    def v2_runner_on_ok(self, result):
        self._record(result, False)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._record(result, True)
