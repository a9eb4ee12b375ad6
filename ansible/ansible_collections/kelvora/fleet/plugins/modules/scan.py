#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: scan
short_description: Ask QV- cameras for their model and versions with kelvora-fleet
description:
  - Runs C(kelvora-fleet scan --json) on the managed host (the site machine that reaches the
    cameras) and returns every camera's model and the versions of its nine components, or
    why it did not answer.
  - Nothing is sent to any camera and nothing changes; the module also runs in check mode.
  - kelvora-fleet must be installed on the managed host (package C(kelvora-cli)), or named
    with C(executable).
version_added: "0.2.0"
author: Kelvora contributors
options:
  targets:
    description:
      - The cameras, as kelvora-fleet takes them, C(HOST), C(HOST:PORT), an IPv4 range
        (C(192.0.2.0/24), at most a /22, on another port C(192.0.2.0/24:8080)) or
        C(@FILE) with one target a line (a file on the managed host).
    type: list
    elements: str
    required: true
  exclude:
    description:
      - Cameras left out, a host and port, a host on any port or a range of any size.
    type: list
    elements: str
    default: []
  parallel:
    description:
      - Cameras asked at once, 1 to 4096 (kelvora-fleet's default is 512).
    type: int
  fail_on_unanswered:
    description:
      - Fail when a camera did not answer as a camera of the family (refused, no answer, not
        such a camera, unknown model), naming each.
      - Off by default, a scan is an inventory; a camera that is off or unplugged is a finding
        to report, listed in C(unanswered), not a reason to stop the play. Turn it on to use
        the scan as a gate before an update.
    type: bool
    default: false
  executable:
    description:
      - The kelvora-fleet program, a name looked up on the managed host's PATH or a path.
    type: str
    default: kelvora-fleet
notes:
  - Supports check mode, the scan only asks.
seealso:
  - module: kelvora.fleet.update
  - name: kelvora-fleet(1)
    description: The man page of the program this module runs.
    link: https://github.com/kelvora/kelvora
'''

EXAMPLES = r'''
- name: Ask every camera of the site
  kelvora.fleet.scan:
    targets:
      - 192.0.2.0/24
    exclude:
      - 192.0.2.1
  register: site_scan

- name: Show the models and cam_cpu versions
  ansible.builtin.debug:
    msg: "{{ item.address }} {{ item.model }} {{ item.versions.cam_cpu | default('-') }}"
  loop: "{{ site_scan.cameras | selectattr('ok') }}"

- name: Stop here when a listed camera is off
  kelvora.fleet.scan:
    targets: "@/etc/kelvora/cameras.txt"
    fail_on_unanswered: true
'''

RETURN = r'''
cameras:
  description: Every camera asked, in target order, as C(kelvora-fleet scan --json) gives it.
  returned: success, and on failure when kelvora-fleet printed its JSON
  type: list
  elements: dict
  contains:
    address:
      description: The camera's address and port.
      type: str
      sample: 192.0.2.7:80
    ok:
      description: Whether the camera answered as a camera of the family.
      type: bool
    model:
      description: The model's name; empty when not ok.
      type: str
      sample: QV_TK300
    display:
      description: The model as the window shows it.
      type: str
      sample: QV-TK300
    versions:
      description: The versions it reports, by list-file key; components it does not report are left out.
      type: dict
      sample: {"cam_cpu": "V01.40", "servo_cpu": "V01.10"}
    error:
      description: Why not, when not ok.
      type: str
      sample: connection refused
unanswered:
  description:
    - The cameras that did not answer (C(ok) false), each with its address and error.
    - Not called C(unreachable), which Ansible reads as the managed host being unreachable.
  returned: success, and on failure when kelvora-fleet printed its JSON
  type: list
  elements: dict
  sample: [{"address": "192.0.2.9:80", "error": "connection refused"}]
cmd:
  description: The command run.
  returned: always
  type: list
  elements: str
rc:
  description: kelvora-fleet's exit status, 0 every camera answered, 1 some did not, 2 bad usage.
  returned: always
  type: int
stderr:
  description: kelvora-fleet's standard error.
  returned: always
  type: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kelvora.fleet.plugins.module_utils import fleet


def main():
    module = AnsibleModule(
        dict(
            targets=dict(type='list', elements='str', required=True),
            exclude=dict(type='list', elements='str', default=[]),
            parallel=dict(type='int'),
            fail_on_unanswered=dict(type='bool', default=False),
            executable=dict(type='str', default='kelvora-fleet'),
        ),
        supports_check_mode=True,
    )
    params = module.params
    argv = [fleet.find_executable(module), 'scan', '--json']
    if params['parallel'] is not None:
        argv += ['--parallel', str(params['parallel'])]
    argv += fleet.target_args(params)

    rc, out, err = fleet.run(module, argv)
    result = dict(changed=False, cmd=argv, rc=rc, stderr=err)
    if rc not in (0, 1):
        module.fail_json(msg='kelvora-fleet scan failed (%s): %s' % (fleet.exit_text(rc), fleet.last_lines(err)), **result)
    document = fleet.parse_json(module, out, 'the output of kelvora-fleet scan --json', **result)
    result['cameras'] = document['cameras']
    result['unanswered'] = [dict(address=c.get('address'), error=c.get('error'))
                             for c in document['cameras'] if not c.get('ok')]
    if params['fail_on_unanswered'] and result['unanswered']:
        module.fail_json(msg='%d of %d cameras did not answer: %s' % (
            len(result['unanswered']), len(result['cameras']),
            ', '.join(fleet.describe(c) for c in result['unanswered'])), **result)
    # Ansible takes a result with a non-zero rc for a failure unless it says otherwise.
    module.exit_json(failed=False, **result)


if __name__ == '__main__':
    main()
