#!/usr/bin/env python3
"""The collection as an integrator runs it: ansible-playbook over two sites, both this
machine (ansible_connection=local), each with simulated cameras on loopback addresses of its
own. Runs the modules' checks, then the example roll-out: in check mode (nothing may be
sent), for real (both sites changed), again (up to date, nothing changed), with one site's
password refused (that site fails, the other does not), and with the canary site refused
(no other site starts). No password may appear in any output, report, log or leftover file.

run_test.py KELVORA_FLEET KELVORA_CAMSIM
Exits 77 (CTest's skip) when ansible-playbook is not installed.
"""

import csv
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ANSIBLE_DIR = os.path.dirname(HERE)
SOURCE_DIR = os.path.dirname(ANSIBLE_DIR)
ROLLOUT = os.path.join(ANSIBLE_DIR, 'examples', 'rollout.yml')
FIRMWARE = os.path.join(SOURCE_DIR, 'samples', 'qv-firmware')

PASSWORD_A = 'Alpha pass#1 s3cret'   # site A's cameras, given as kelvora_password
PASSWORD_B = 'Bravo:s3cr#t 2'        # site B's cameras, in its credentials file
WRONG_A = 'Wrong-alpha 7y'
WRONG_B = 'Wrong-bravo 9x'
SECRETS = (PASSWORD_A, PASSWORD_B, WRONG_A, WRONG_B)

PYTHON = 'auto_silent'  # the site machines' interpreter, from ansible-playbook's first line
PLAYBOOK_SECONDS = 90   # one ansible-playbook run, at most
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print('FAIL: ' + what, flush=True)


class Camera:
    """One kelvora-camsim on ADDRESS; its output (one line per request) in a log file."""

    def __init__(self, camsim, address, port, password, log_dir):
        self.address = address
        self.log = os.path.join(log_dir, 'camsim-%s.log' % address)
        with open(self.log, 'w') as out:
            self.proc = subprocess.Popen([camsim, '--bind', address, '--port', str(port), '--restart-seconds', '0',
                                          '--password', password], stdout=out, stderr=subprocess.STDOUT,
                                         stdin=subprocess.DEVNULL)
        self.port = None
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and self.proc.poll() is None:
            for line in open(self.log):
                if line.startswith('address: '):
                    self.port = int(line.split(':')[-1])
            if self.port:
                return
            time.sleep(0.05)
        raise RuntimeError('kelvora-camsim on %s did not start: %s' % (address, open(self.log).read()))

    def uploads(self):
        return sum(1 for line in open(self.log) if '[upload]' in line)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    fleet, camsim = (os.path.abspath(p) for p in sys.argv[1:])
    playbook_exe = shutil.which('ansible-playbook')
    if not playbook_exe:
        print('ansible-playbook is not installed (Debian: apt-get install ansible-core): skipped')
        return 77
    global PYTHON
    PYTHON = module_python(playbook_exe)

    top = tempfile.mkdtemp(prefix='kelvora-ansible-')
    inputs = os.path.join(top, 'in')     # inventory, credentials files, camsim logs: hold secrets
    outputs = os.path.join(top, 'out')   # everything Ansible and kelvora-fleet write: must not
    for d in (inputs, outputs):
        os.makedirs(d)
    cameras = []
    started = time.monotonic()
    try:
        first = Camera(camsim, '127.0.61.1', 0, PASSWORD_A, inputs)
        cameras.append(first)
        port = first.port
        cameras.append(Camera(camsim, '127.0.61.2', port, PASSWORD_A, inputs))
        cameras.append(Camera(camsim, '127.0.62.1', port, PASSWORD_B, inputs))
        run_phases(top, inputs, outputs, fleet, port, cameras, playbook_exe)
    finally:
        for camera in cameras:
            camera.stop()
    print('took %.1f s' % (time.monotonic() - started))
    if failures:
        print('%d checks failed; files kept in %s' % (len(failures), top))
        return 1
    shutil.rmtree(top, ignore_errors=True)
    print('all checks passed')
    return 0


def write_credentials(path, password):
    with open(path, 'w') as f:
        f.write('# site B\n127.0.62.0/30 admin %s\n' % password)
    os.chmod(path, 0o600)


def module_python(playbook_exe):
    """Ansible's own interpreter (Debian's: /usr/bin/python3), as on a site machine; the
    python3 running this test may be another one."""
    with open(playbook_exe, 'rb') as f:
        words = f.readline().decode(errors='replace')[2:].split()
    return words[0] if words and os.path.basename(words[0]).startswith('python') else 'auto_silent'


def inventory(inputs, outputs, fleet, port, password_a, credentials_b):
    """Two sites, both this machine; each its own cameras, folders and credentials."""
    common = dict(ansible_connection='local', ansible_python_interpreter=PYTHON,
                  kelvora_fleet=fleet, camera_port=port, readable_credentials=os.path.join(inputs, 'readable.cred'),
                  kelvora_firmware_src=FIRMWARE, kelvora_user='admin')
    site_a = dict(kelvora_targets=['127.0.61.0/30:%d' % port], kelvora_password=password_a,
                  kelvora_site_dir=os.path.join(outputs, 'site_a'), expected_cameras=2)
    site_b = dict(kelvora_targets=['127.0.62.0/30:%d' % port], kelvora_exclude=['127.0.62.2'],
                  kelvora_credentials_file=credentials_b, kelvora_site_dir=os.path.join(outputs, 'site_b'),
                  expected_cameras=1)
    document = {'all': {'children': {
        'canary': {'hosts': {'site_a': None}},
        'sites': {'hosts': {'site_a': site_a, 'site_b': site_b}, 'vars': common},
    }}}
    path = os.path.join(inputs, 'inventory-%s-%s.yml' % (password_a == PASSWORD_A, os.path.basename(credentials_b)))
    with open(path, 'w') as f:
        json.dump(document, f)
    return path


def run_phases(top, inputs, outputs, fleet, port, cameras, playbook_exe):
    good_b = os.path.join(inputs, 'site_b.cred')
    wrong_b = os.path.join(inputs, 'site_b-wrong.cred')
    write_credentials(good_b, PASSWORD_B)
    write_credentials(wrong_b, WRONG_B)
    readable = os.path.join(inputs, 'readable.cred')
    write_credentials(readable, PASSWORD_B)
    os.chmod(readable, 0o644)
    good = inventory(inputs, outputs, fleet, port, PASSWORD_A, good_b)

    record = os.path.join(outputs, 'record.jsonl')
    env = {k: v for k, v in os.environ.items() if not k.startswith(('KELVORA_', 'ANSIBLE_'))}
    env.update(ANSIBLE_HOME=os.path.join(outputs, 'ansible-home'),
               ANSIBLE_LOCAL_TEMP=os.path.join(outputs, 'ansible-local-tmp'),
               ANSIBLE_REMOTE_TEMP=os.path.join(outputs, 'ansible-remote-tmp'),
               ANSIBLE_COLLECTIONS_PATH=os.path.join(ANSIBLE_DIR, 'ansible_collections'),
               ANSIBLE_CALLBACK_PLUGINS=os.path.join(HERE, 'callback_plugins'),
               ANSIBLE_CALLBACKS_ENABLED='kelvora_record',
               ANSIBLE_NOCOLOR='1', ANSIBLE_RETRY_FILES_ENABLED='0',
               XDG_STATE_HOME=os.path.join(outputs, 'state'),
               TMPDIR=os.path.join(outputs, 'tmp'),
               KELVORA_RECORD=record)
    os.makedirs(env['TMPDIR'])
    reports = os.path.join(outputs, 'controller-reports')
    logs = []

    def playbook(name, book, inv, *args, named=True):
        """Runs ansible-playbook; returns (exit status, the module results it recorded).
        named: the run's reports go to reports/NAME; otherwise the playbook names the run."""
        open(record, 'w').close()
        log = os.path.join(outputs, 'ansible-%s.log' % name)
        logs.append(log)
        began = time.monotonic()
        with open(log, 'w') as out:
            try:
                argv = [playbook_exe, '-i', inv, book, '-e', 'kelvora_reports_dir=' + reports]
                argv += ['-e', 'kelvora_run=' + name] if named else []
                rc = subprocess.run(argv + list(args), stdout=out, stderr=subprocess.STDOUT,
                                    stdin=subprocess.DEVNULL, env=env, cwd=outputs, timeout=PLAYBOOK_SECONDS).returncode
            except subprocess.TimeoutExpired:
                rc = 'timed out'
        results = {}
        for line in open(record):
            r = json.loads(line)
            results.setdefault(r['host'], []).append(r)
        print('%-8s exit %s in %.1f s' % (name, rc, time.monotonic() - began), flush=True)
        return rc, results

    def update_result(results, host):
        found = [r for r in results.get(host, []) if r['action'] == 'kelvora.fleet.update']
        return found[-1] if found else None

    def uploads():
        return [c.uploads() for c in cameras]

    def site_report(name, host):
        path = os.path.join(reports, name, host + '.json')
        return json.load(open(path)) if os.path.isfile(path) else None

    def table(name):
        path = os.path.join(reports, name, 'all-sites.csv')
        return list(csv.DictReader(open(path, newline=''))) if os.path.isfile(path) else []

    only = ['-e', '{"kelvora_only": ["servo_cpu", "eeprom_cam"]}']

    # 1. The modules alone: scans, and refusals that fail before anything is sent.
    rc, _ = playbook('checks', os.path.join(HERE, 'checks.yml'), good)
    check(rc == 0, 'checks.yml passes (see ansible-checks.log)')
    check(uploads() == [0, 0, 0], 'the checks sent nothing')

    # 2. Check mode: plans, nothing sent, nothing fetched.
    rc, results = playbook('check', ROLLOUT, good, '--check', *only)
    check(rc == 0, 'check mode succeeds')
    for host, count in (('site_a', 2), ('site_b', 1)):
        r = update_result(results, host)
        check(r and r['check_mode'] and r['changed'] and not r['failed'], '%s: check mode plans and would change' % host)
        check(r and len(r.get('would_send', [])) == count, '%s: check mode would send to %d cameras' % (host, count))
    check(uploads() == [0, 0, 0], 'check mode sent nothing (camsim saw no upload): %s' % uploads())
    check(not [f for f in os.listdir(os.path.join(reports, 'check')) if f.endswith(('.json', '.csv'))],
          'check mode fetched no report')

    # 3. The roll-out, with -vvv: every camera of both sites gets its two files.
    rc, results = playbook('first', ROLLOUT, good, '-vvv', *only)
    check(rc == 0, 'the roll-out succeeds')
    for host in ('site_a', 'site_b'):
        r = update_result(results, host)
        check(r and r['changed'] and not r['failed'] and r.get('summary') == {'completed': 2 if host == 'site_a' else 1},
              '%s: updated, changed: %s' % (host, r))
        report = site_report('first', host)
        check(report and all(c['end'] == 'completed' and c['verified'] for c in report['cameras']),
              '%s: its fetched report has every camera completed and verified' % host)
    check(uploads() == [2, 2, 2], 'two files sent to each camera: %s' % uploads())
    rows = table('first')
    check(sorted((r['site'], r['end'], r['files_sent']) for r in rows)
          == [('site_a', 'completed', '2')] * 2 + [('site_b', 'completed', '2')],
          'the merged table has every camera of both sites: %s' % rows)
    history = os.path.join(outputs, 'state', 'kelvora', 'history.jsonl')
    check(os.path.isfile(history) and len(open(history).readlines()) == 2, 'each site added its update to the history')

    # 4. Again: every camera up to date, nothing sent, nothing changed. With --limit (which
    # leaves localhost out) and the run named by the playbook itself.
    known = set(os.listdir(reports))
    rc, results = playbook('again', ROLLOUT, good, '--limit', 'site_a:site_b', *only, named=False)
    check(rc == 0, 'the second roll-out succeeds')
    new = sorted(set(os.listdir(reports)) - known)
    check(len(new) == 1 and sorted(r['end'] for r in table(new[0] if new else 'none')) == ['up-to-date'] * 3,
          'the run the playbook named has its reports and table: %s' % new)
    for host in ('site_a', 'site_b'):
        r = update_result(results, host)
        check(r and not r['changed'] and not r['failed'] and set(r.get('summary', {})) == {'up-to-date'},
              '%s: up to date, not changed: %s' % (host, r))
    check(uploads() == [2, 2, 2], 'the second roll-out sent nothing: %s' % uploads())

    # 5. Site B's cameras refuse its password: site B fails, site A (the canary) does not.
    resend = ['-e', '{"kelvora_only": ["servo_cpu"], "kelvora_all": true}']
    rc, results = playbook('refused', ROLLOUT, inventory(inputs, outputs, fleet, port, PASSWORD_A, wrong_b), *resend)
    check(rc != 0, 'a failed site fails the playbook')
    a, b = update_result(results, 'site_a'), update_result(results, 'site_b')
    check(a and a['changed'] and not a['failed'], 'site_a updated while site_b failed: %s' % a)
    check(b and b['failed'] and b['changed'] and '127.0.62.1:%d (upload-failed' % port in b.get('msg', ''),
          'site_b fails naming its camera and end: %s' % b)
    check(uploads() == [3, 3, 3], 'one upload each, site_b\'s refused: %s' % uploads())
    check(sorted((r['site'], r['end']) for r in table('refused'))
          == [('site_a', 'completed')] * 2 + [('site_b', 'upload-failed')],
          'the merged table has the failed site\'s report too: %s' % table('refused'))

    # 6. The canary site is refused: no other site starts.
    rc, results = playbook('canary', ROLLOUT, inventory(inputs, outputs, fleet, port, WRONG_A, good_b), *resend)
    a = update_result(results, 'site_a')
    check(rc != 0 and a and a['failed'], 'the canary site fails: %s' % a)
    check(update_result(results, 'site_b') is None, 'after a failed canary site no other site is updated')
    check(uploads() == [4, 4, 3], 'only the canary site was sent a file: %s' % uploads())
    check(sorted((r['site'], r['end']) for r in table('canary'))
          == [('site_a', 'upload-failed')] * 2 + [('site_b', 'no-report')],
          'the table names the site never reached: %s' % table('canary'))

    # No secret anywhere Ansible or kelvora-fleet wrote: outputs (-vvv included), reports,
    # logs, history, Ansible's temporary folders.
    for root, _, files in os.walk(outputs):
        for name in files:
            data = open(os.path.join(root, name), 'rb').read()
            for secret in SECRETS:
                check(secret.encode() not in data, 'no password in %s' % os.path.relpath(os.path.join(root, name), top))
    check(not [d for d in os.listdir(env['TMPDIR']) if d.startswith('kelvora-fleet-')],
          'the update module left no temporary report behind')
    vvv = open(os.path.join(outputs, 'ansible-first.log')).read()
    check('<127.0.0.1> EXEC' in vvv or 'EXEC /bin/sh' in vvv, 'the -vvv run shows what it ran')


if __name__ == '__main__':
    sys.exit(main())
