#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: update
short_description: Update the firmware of a site's QV- cameras with kelvora-fleet
description:
  - Runs C(kelvora-fleet update --yes) on the managed host (the site machine that reaches the
    cameras) over the targets, from a firmware folder on that host, and returns its report,
    per camera the end, whether the versions were verified, and every file.
  - Each camera is updated by kelvora-fleet's own rules, the plan, the upload order, the
    restart waits and the check of the versions afterwards. Cameras that already run the
    folder's versions are up to date and are sent nothing; that is success.
  - In check mode it runs C(kelvora-fleet plan --json) instead, which sends nothing, and
    returns the plan.
  - The user ID and password go to kelvora-fleet only through its environment
    (C(KELVORA_USER), C(KELVORA_PASSWORD)), never on its command line, and neither is in any
    result, not even the task's C(invocation).
version_added: "0.2.0"
author: Kelvora contributors
options:
  targets:
    description:
      - The cameras, C(HOST), C(HOST:PORT), an IPv4 range (at most a /22, C(A.B.C.D/N:PORT) on
        another port) or C(@FILE) with one target a line (a file on the managed host).
    type: list
    elements: str
    required: true
  exclude:
    description:
      - Cameras left out, a host and port, a host on any port or a range of any size.
    type: list
    elements: str
    default: []
  folder:
    description:
      - The firmware folder on the managed host, with its C(verup_list.ini) (and, if present,
        the C(SHA256SUMS) that every file sent must match).
    type: path
    required: true
  only:
    description:
      - Send only these components, by their list-file keys. Without it, every component whose
        version differs from the camera's.
    type: list
    elements: str
    choices: [cam_cpu, network_cpu, servo_cpu, interface_cpu, front_fpga, backend_fpga, lens_fpga, eeprom_cam, interface_eeprom]
    aliases: [components]
  all:
    description:
      - Send every component that has a file, also those the camera already runs (as the
        window ticks them). Combined with C(only), every component named.
    type: bool
    default: false
  parallel:
    description:
      - Cameras updated at once, 1 to 4096 (kelvora-fleet's default is 8).
    type: int
  canary:
    description:
      - The first N cameras of the site go first, alone; the others start only if each of them
        completed and was verified, or was up to date.
    type: int
  max_failures:
    description:
      - Once N cameras have failed, no further camera starts; those held back end as
        C(not-started).
    type: int
  credentials_file:
    description:
      - A file on the managed host with the cameras' own user IDs and passwords
        (C(TARGET USER PASSWORD) a line; a host and port wins over a host, a host over a
        range). It must be private (mode C(0600)), or kelvora-fleet refuses it and the task
        fails.
      - Cameras without an entry use C(user) and C(password).
    type: path
  user:
    description:
      - The cameras' user ID, for cameras without an entry in C(credentials_file). Passed
        only in kelvora-fleet's environment. Like the password, it is kept out of every
        result; Ansible masks its value wherever it would appear in the task's output.
      - When neither C(user) nor C(credentials_file) is given, kelvora-fleet takes
        C(KELVORA_USER) and C(KELVORA_PASSWORD) from the managed host's environment, and
        fails without them; it never waits for a question on a terminal.
    type: str
  password:
    description:
      - The cameras' password, for cameras without an entry in C(credentials_file). Passed
        only in kelvora-fleet's environment. Keep it in Ansible Vault.
      - Do not pass it with the C(environment) keyword instead, Ansible writes such values on
        the command line it runs on the managed host, where C(-vvv) shows them.
    type: str
  report:
    description:
      - Keep the report (JSON) at this path on the managed host, e.g. to fetch it. kelvora-fleet
        writes it before anything is sent and replaces it whole as cameras end, so after an
        interruption it holds every camera that had ended. Its directory must exist.
      - Without it, the report is written to the module's temporary directory, which Ansible
        removes after the task.
    type: path
  log_dir:
    description:
      - Write each camera's debug log to I(log_dir/ADDRESS.log) on the managed host (created
        if missing). Secrets are masked in these logs.
    type: path
  history:
    description:
      - Add the update to kelvora-fleet's history on the managed host
        (C(~/.local/state/kelvora/history.jsonl) of the remote user, or under
        C(XDG_STATE_HOME)), so that C(kelvora-fleet history) on the site machine shows what
        was sent to each camera and when. The site machine is where the cameras' record
        belongs; turn it off only for throw-away runs.
    type: bool
    default: true
  executable:
    description:
      - The kelvora-fleet program, a name looked up on the managed host's PATH or a path.
    type: str
    default: kelvora-fleet
notes:
  - Supports check mode, with C(kelvora-fleet plan), which sends nothing, asks every camera and
    fails, as the update would, when a camera cannot be reached or planned. Check mode does
    not read the credentials; a credentials file others can read is only refused by the
    update itself. It writes nothing on the managed host, no C(report), C(log_dir) or
    history; the C(folder) must already be there.
  - C(changed) is true exactly when a file was sent to some camera (a file whose result is
    not C(not-sent)), also when that camera then failed. In check mode it says whether the plan
    would send a file to some camera.
  - The task fails when a camera did not end well, completed with its versions verified, up
    to date or with nothing to send, naming each camera and its end, and when kelvora-fleet
    refuses to start (exit status 2, bad usage, an unreadable folder, a file the folder's
    C(SHA256SUMS) refuses, a credentials file others can read, missing credentials, a report
    path that cannot be written), with its message.
  - kelvora-fleet runs in a session of its own, without a terminal, its output going to
    files. If the module is ended early (for example by a dropped SSH connection), kelvora-fleet
    carries on to its end on the site machine, so no camera is cut off in an upload, and the
    report at C(report) says how each camera ended.
seealso:
  - module: kelvora.fleet.scan
  - name: kelvora-fleet(1)
    description: The man page of the program this module runs.
    link: https://github.com/kelvora/kelvora
'''

EXAMPLES = r'''
- name: Update the site's cameras, two first as a canary
  kelvora.fleet.update:
    targets:
      - 192.0.2.0/24
    exclude:
      - 192.0.2.1
    folder: /var/lib/kelvora/firmware/2026-12
    canary: 2
    max_failures: 3
    user: admin
    password: "{{ vault_camera_password }}"
    report: /var/lib/kelvora/reports/2026-12.json
  register: site_update

- name: Only the servo and camera EEPROM, with the cameras' own passwords
  kelvora.fleet.update:
    targets: "@/etc/kelvora/cameras.txt"
    folder: /var/lib/kelvora/firmware/2026-12
    only: [servo_cpu, eeprom_cam]
    credentials_file: /etc/kelvora/site.cred

- name: What would be sent (ansible-playbook --check runs this as a plan)
  kelvora.fleet.update:
    targets: [192.0.2.0/24]
    folder: /var/lib/kelvora/firmware/2026-12
  check_mode: true
  register: site_plan
'''

RETURN = r'''
report:
  description:
    - The report kelvora-fleet wrote, as in its C(--report) file, the tool and version, the
      folder, C(all) and C(only), the run's C(started) and C(ended) (UTC), and C(cameras).
    - Each camera has C(address), C(model), C(end) (C(completed), C(up-to-date),
      C(nothing-to-send), C(unreachable), C(upload-failed), C(upload-refused),
      C(not-started), ...), C(message), C(reason), C(verified), C(credentials) (where they
      came from, C(file line 7) or C(environment), never the user ID or password),
      C(started), C(ended), C(versions_before), C(versions_after) and C(files).
    - Each file has C(component), C(file), C(version), C(version_before), C(result)
      (C(not-sent), C(sent), C(failed), C(verified), C(mismatch), C(not-reported)), C(size),
      C(sha256) and C(upload_seconds).
  returned: when an update ran (not in check mode), also when it failed
  type: dict
  sample:
    tool: kelvora-fleet
    version: 0.2.0
    folder: /var/lib/kelvora/firmware/2026-12
    all: false
    only: [servo_cpu]
    started: "2026-12-08T09:30:00.125Z"
    ended: "2026-12-08T09:30:04.500Z"
    cameras:
      - address: 192.0.2.7:80
        model: QV_TK300
        end: completed
        verified: true
        message: Process has been completed successfully.
        reason: ""
        credentials: environment
        files:
          - component: servo_cpu
            file: qv_servo_cpu_V0120.spt
            version: V01.20
            version_before: V01.10
            result: verified
summary:
  description: How many cameras ended how, by end; C(completed) counts only verified ones,
    C(completed-not-verified) the others.
  returned: when an update ran
  type: dict
  sample: {"completed": 12, "up-to-date": 3, "unreachable": 1}
sent_to:
  description: The cameras that were sent at least one file.
  returned: when an update ran
  type: list
  elements: str
  sample: ["192.0.2.7:80"]
failed_cameras:
  description: The cameras that did not end well, each with C(address), C(end), C(message)
    and C(reason).
  returned: when an update ran
  type: list
  elements: dict
  sample: [{"address": "192.0.2.9:80", "end": "upload-failed", "message": "VerUp Err", "reason": ""}]
report_path:
  description: Where the report is kept on the managed host (C(report)).
  returned: when C(report) is given and an update ran
  type: str
plan:
  description:
    - Check mode only, the plan from C(kelvora-fleet plan --json), per camera C(address),
      C(ok), C(model), C(section), C(versions_accepted), C(files) in upload order (each
      C(component), C(file), C(version), C(vupno), C(camera_version)), and when not ok
      C(end), C(message) and C(reason).
  returned: in check mode
  type: list
  elements: dict
would_send:
  description: Check mode only, the cameras that would be sent files, with their file names.
  returned: in check mode
  type: list
  elements: dict
  sample: [{"address": "192.0.2.7:80", "files": ["qv_servo_cpu_V0120.spt"]}]
cmd:
  description: The command run (no user ID or password is ever on it).
  returned: always
  type: list
  elements: str
rc:
  description: kelvora-fleet's exit status, 0 every camera ended well, 1 some did not, 2 it refused to start.
  returned: always
  type: int
stdout:
  description: kelvora-fleet's output, the plan, one line per event and the summary table.
  returned: always
  type: str
stderr:
  description: kelvora-fleet's messages.
  returned: always
  type: str
'''

import os
import shutil
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kelvora.fleet.plugins.module_utils import fleet

COMPONENTS = ['cam_cpu', 'network_cpu', 'servo_cpu', 'interface_cpu', 'front_fpga',
              'backend_fpga', 'lens_fpga', 'eeprom_cam', 'interface_eeprom']


def choice_args(params):
    argv = ['--folder', params['folder']]
    if params['all']:
        argv.append('--all')
    if params['only']:
        argv += ['--only', ','.join(params['only'])]
    return argv


def plan(module, executable):
    """Check mode: the plan, which asks the cameras and sends nothing."""
    params = module.params
    argv = [executable, 'plan', '--json'] + choice_args(params) + fleet.target_args(params)
    rc, out, err = fleet.run(module, argv)
    result = dict(changed=False, cmd=argv, rc=rc, stdout=out, stderr=err)
    if rc not in (0, 1):
        module.fail_json(msg='kelvora-fleet refused the plan (%s): %s' % (fleet.exit_text(rc), fleet.last_lines(err)), **result)
    cameras = fleet.parse_json(module, out, 'the output of kelvora-fleet plan --json', **result)['cameras']
    result['plan'] = cameras
    result['would_send'] = [dict(address=c.get('address'), files=[f.get('file') for f in c.get('files', [])])
                            for c in cameras if c.get('ok') and c.get('files')]
    result['changed'] = bool(result['would_send'])
    refused = [c for c in cameras if not c.get('ok') and c.get('end') not in fleet.QUIET_ENDS]
    if refused:
        module.fail_json(msg='%d of %d cameras could not be planned: %s' % (
            len(refused), len(cameras), ', '.join(fleet.describe(c) for c in refused)), **result)
    # Ansible takes a result with a non-zero rc for a failure unless it says otherwise.
    module.exit_json(failed=False, **result)


def written_mark(path):
    """What tells one write of the report from another: kelvora-fleet replaces it whole."""
    try:
        st = os.stat(path)
    except OSError:
        return None
    return (st.st_ino, st.st_mtime_ns, st.st_size)


def summarize(cameras):
    summary = {}
    for camera in cameras:
        end = camera.get('end') or 'unknown'
        if end == 'completed' and not camera.get('verified'):
            end = 'completed-not-verified'
        summary[end] = summary.get(end, 0) + 1
    return summary


def update(module, executable):
    params = module.params
    secrets = {}
    if params['user'] is not None:
        secrets = dict(KELVORA_USER=params['user'], KELVORA_PASSWORD=params['password'])
    scratch = None
    report_path = params['report']
    if not report_path:
        scratch = tempfile.mkdtemp(prefix='kelvora-fleet-', dir=module.tmpdir)
        report_path = os.path.join(scratch, 'report.json')
    argv = [executable, 'update', '--yes', '--report', report_path] + choice_args(params)
    for option, value in (('--parallel', params['parallel']), ('--canary', params['canary']),
                          ('--max-failures', params['max_failures'])):
        if value is not None:
            argv += [option, str(value)]
    if params['credentials_file']:
        argv += ['--credentials', params['credentials_file']]
    if params['log_dir']:
        argv += ['--log-dir', params['log_dir']]
    if not params['history']:
        argv.append('--no-history')
    argv += fleet.target_args(params)

    before = written_mark(report_path)
    try:
        rc, out, err = fleet.run(module, argv, secrets)
        result = dict(changed=False, cmd=argv, rc=rc, stdout=out, stderr=err)
        if rc == 2:
            # Refused before anything was sent: usage, folder, SHA256SUMS, credentials, report path.
            module.fail_json(msg='kelvora-fleet refused the update: %s' % fleet.last_lines(err), **result)
        # A report left at the kept path by an earlier run says nothing about this one.
        if written_mark(report_path) in (None, before):
            module.fail_json(msg='kelvora-fleet wrote no report (%s): %s' % (fleet.exit_text(rc), fleet.last_lines(err)),
                             **result)
        with open(report_path, 'rb') as f:
            text = f.read().decode('utf-8', 'replace')
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)

    report = fleet.parse_json(module, text, 'the report %s' % report_path, **result)
    cameras = report['cameras']
    result['report'] = report
    if params['report']:
        result['report_path'] = params['report']
    result['summary'] = summarize(cameras)
    result['sent_to'] = [c.get('address') for c in cameras
                         if any(f.get('result') != 'not-sent' for f in c.get('files', []))]
    result['changed'] = bool(result['sent_to'])
    failed = [c for c in cameras if not fleet.camera_done(c)]
    result['failed_cameras'] = [dict(address=c.get('address'), end=c.get('end'), message=c.get('message'),
                                     reason=c.get('reason')) for c in failed]
    if failed:
        module.fail_json(msg='%d of %d cameras failed: %s' % (
            len(failed), len(cameras), ', '.join(fleet.describe(c) for c in failed)), **result)
    if rc != 0:
        # Every camera ended well, yet the program did not: e.g. the report's last write failed.
        module.fail_json(msg='kelvora-fleet update ended with %s: %s' % (fleet.exit_text(rc), fleet.last_lines(err)), **result)
    module.exit_json(failed=False, **result)


def main():
    module = AnsibleModule(
        dict(
            targets=dict(type='list', elements='str', required=True),
            exclude=dict(type='list', elements='str', default=[]),
            folder=dict(type='path', required=True),
            only=dict(type='list', elements='str', choices=COMPONENTS, aliases=['components']),
            all=dict(type='bool', default=False),
            parallel=dict(type='int'),
            canary=dict(type='int'),
            max_failures=dict(type='int'),
            credentials_file=dict(type='path'),
            # A user ID is a credential too: no_log keeps it out of the invocation Ansible
            # returns and masks it in every other value of the result.
            user=dict(type='str', no_log=True),
            password=dict(type='str', no_log=True),
            report=dict(type='path'),
            log_dir=dict(type='path'),
            history=dict(type='bool', default=True),
            executable=dict(type='str', default='kelvora-fleet'),
        ),
        required_together=[('user', 'password')],
        supports_check_mode=True,
    )
    executable = fleet.find_executable(module)
    if module.check_mode:
        plan(module, executable)
    else:
        update(module, executable)


if __name__ == '__main__':
    main()
