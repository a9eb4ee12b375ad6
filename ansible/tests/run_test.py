#!/usr/bin/env python3
"""The collection as an integrator runs it: ansible-playbook over two sites, both this
machine (ansible_connection=local), each with simulated cameras on loopback addresses of its
own. Runs the modules' checks, then the example roll-out: in check mode (nothing may be
sent, nothing on disk may change), for real (both sites changed), again (up to date, nothing
changed), under the first run's name with one site refused by kelvora-fleet (that site fails
and is "not-run" in the table, the other does not fail), and with the canary site's password
refused (no other site starts). No user ID or password may appear in any output, registered
result, report, log or leftover file.

run_test.py KELVORA_FLEET KELVORA_CAMSIM
Exits 77 (CTest's skip) when ansible-playbook is not installed.
"""

import csv
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ANSIBLE_DIR = os.path.dirname(HERE)
SOURCE_DIR = os.path.dirname(ANSIBLE_DIR)
ROLLOUT = os.path.join(ANSIBLE_DIR, 'examples', 'rollout.yml')
FIRMWARE = os.path.join(SOURCE_DIR, 'samples', 'qv-firmware')

USER_A = 'kv-operator-alpha'         # site A's cameras, given as kelvora_user
USER_B = 'kv-operator-bravo'         # site B's cameras, in its credentials file
PASSWORD_A = 'Alpha pass#1 s3cret'   # site A's cameras, given as kelvora_password
PASSWORD_B = 'Bravo:s3cr#t 2'        # site B's cameras, in its credentials file
WRONG_A = 'Wrong-alpha 7y'
CREDENTIALS = (USER_A, USER_B, PASSWORD_A, PASSWORD_B, WRONG_A)
ANSIBLE_OWN = ('ansible-home', 'ansible-local-tmp', 'ansible-remote-tmp')   # what Ansible keeps for itself
TMP = 'tmp'   # TMPDIR, where Ansible unpacks every module it runs and removes it after

PYTHON = 'auto_silent'  # the site machines' interpreter, from ansible-playbook's first line
PLAYBOOK_SECONDS = 90   # one ansible-playbook run, at most
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print('FAIL: ' + what, flush=True)


class Camera:
    """One kelvora-camsim on ADDRESS; its output (one line per request) in a log file."""

    def __init__(self, camsim, address, port, user, password, log_dir):
        self.address = address
        self.log = os.path.join(log_dir, 'camsim-%s.log' % address)
        with open(self.log, 'w') as out:
            self.proc = subprocess.Popen([camsim, '--bind', address, '--port', str(port), '--restart-seconds', '0',
                                          '--user', user, '--password', password], stdout=out, stderr=subprocess.STDOUT,
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
        first = Camera(camsim, '127.0.61.1', 0, USER_A, PASSWORD_A, inputs)
        cameras.append(first)
        port = first.port
        cameras.append(Camera(camsim, '127.0.61.2', port, USER_A, PASSWORD_A, inputs))
        cameras.append(Camera(camsim, '127.0.62.1', port, USER_B, PASSWORD_B, inputs))
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


def disk_state(*roots):
    """Every folder and file under ROOTS, its kind, size and modification time. Left out at
    the first level: what Ansible keeps for itself, the test's own files (ansible-NAME.log,
    the record) and the time of TMP itself, not what it holds."""
    state = {}
    for root in roots:
        for folder, dirs, files in os.walk(root):
            names = dirs + files
            if folder == root:
                dirs[:] = [d for d in dirs if d not in ANSIBLE_OWN]
                names = [n for n in dirs + files if n not in ANSIBLE_OWN and n != TMP and n != 'record.jsonl'
                         and not (n.startswith('ansible-') and n.endswith('.log'))]
            for name in names:
                st = os.lstat(os.path.join(folder, name))
                state[os.path.join(folder, name)] = (stat.S_IFMT(st.st_mode), st.st_size, st.st_mtime_ns)
    return state


def disk_changes(before, after):
    """The paths made, removed or changed (written, or a folder's entries) between two states."""
    return sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p))


def write_credentials(path, password):
    with open(path, 'w') as f:
        f.write('# site B\n127.0.62.0/30 %s %s\n' % (USER_B, password))
    os.chmod(path, 0o600)


def module_python(playbook_exe):
    """Ansible's own interpreter (Debian's: /usr/bin/python3), as on a site machine; the
    python3 running this test may be another one."""
    with open(playbook_exe, 'rb') as f:
        words = f.readline().decode(errors='replace')[2:].split()
    return words[0] if words and os.path.basename(words[0]).startswith('python') else 'auto_silent'


def inventory(inputs, outputs, fleet, port, password_a, credentials_b, staged_a=False):
    """Two sites, both this machine; each its own cameras, folders and credentials.
    staged_a: site A has the firmware folder already (the source tree's, only read)."""
    common = dict(ansible_connection='local', ansible_python_interpreter=PYTHON,
                  kelvora_fleet=fleet, camera_port=port, readable_credentials=os.path.join(inputs, 'readable.cred'),
                  kelvora_firmware_src=FIRMWARE, kelvora_user=USER_A)
    site_a = dict(kelvora_targets=['127.0.61.0/30:%d' % port], kelvora_password=password_a,
                  kelvora_site_dir=os.path.join(outputs, 'site_a'), expected_cameras=2)
    if staged_a:
        site_a['kelvora_site_folder'] = FIRMWARE
    site_b = dict(kelvora_targets=['127.0.62.0/30:%d' % port], kelvora_exclude=['127.0.62.2'],
                  kelvora_credentials_file=credentials_b, kelvora_site_dir=os.path.join(outputs, 'site_b'),
                  expected_cameras=1)
    document = {'all': {'children': {
        'canary': {'hosts': {'site_a': None}},
        'sites': {'hosts': {'site_a': site_a, 'site_b': site_b}, 'vars': common},
    }}}
    path = os.path.join(inputs, 'inventory-%s-%s-%s.yml' % (password_a == PASSWORD_A, os.path.basename(credentials_b),
                                                             staged_a))
    with open(path, 'w') as f:
        json.dump(document, f)
    return path


def run_phases(top, inputs, outputs, fleet, port, cameras, playbook_exe):
    good_b = os.path.join(inputs, 'site_b.cred')
    write_credentials(good_b, PASSWORD_B)
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
               TMPDIR=os.path.join(outputs, TMP),
               KELVORA_RECORD=record)
    os.makedirs(env['TMPDIR'])
    reports = os.path.join(outputs, 'controller-reports')
    logs = []

    def playbook(name, book, inv, *args, named=True, run=None):
        """Runs ansible-playbook, its output in ansible-NAME.log; returns (exit status, the
        module results it recorded). named: the run's reports go to reports/RUN (by default
        NAME); otherwise the playbook names the run."""
        open(record, 'w').close()
        log = os.path.join(outputs, 'ansible-%s.log' % name)
        logs.append(log)
        began = time.monotonic()
        with open(log, 'w') as out:
            try:
                argv = [playbook_exe, '-i', inv, book, '-e', 'kelvora_reports_dir=' + reports]
                argv += ['-e', 'kelvora_run=' + (run or name)] if named else []
                rc = subprocess.run(argv + list(args), stdout=out, stderr=subprocess.STDOUT,
                                    stdin=subprocess.DEVNULL, env=env, cwd=outputs, timeout=PLAYBOOK_SECONDS).returncode
            except subprocess.TimeoutExpired:
                rc = 'timed out'
        results = {}
        for line in open(record):
            check(not [c for c in CREDENTIALS if c in line], '%s: no user ID or password in a module result' % name)
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

    # 2. Check mode: plans, sends nothing, and changes nothing on disk, on the sites or the
    # controller: no folder, no unpacked firmware, no archive, no report, no log, no history.
    # Site A has its firmware folder already and is planned; site B has none yet, nothing to
    # plan from.
    before = disk_state(outputs, FIRMWARE)
    rc, results = playbook('check', ROLLOUT, inventory(inputs, outputs, fleet, port, PASSWORD_A, good_b, staged_a=True),
                           '--check', *only)
    changed = disk_changes(before, disk_state(outputs, FIRMWARE))
    check(rc == 0, 'check mode succeeds')
    r = update_result(results, 'site_a')
    check(r and r['check_mode'] and r['changed'] and not r['failed'], 'site_a: check mode plans and would change: %s' % r)
    check(r and len(r.get('would_send', [])) == 2, 'site_a: check mode would send to 2 cameras: %s' % r)
    check(update_result(results, 'site_b') is None, 'site_b: without its firmware folder it is not planned')
    check(uploads() == [0, 0, 0], 'check mode sent nothing (camsim saw no upload): %s' % uploads())
    check(not changed, 'check mode changed nothing on disk: %s' % [os.path.relpath(p, top) for p in changed][:8])
    check(not os.path.exists(os.path.join(reports, 'check')), 'check mode made no reports folder')

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

    # 5. The first run's name again, and kelvora-fleet refuses to start on site B (its
    # credentials file is readable by others): site B fails and sent nothing; site A does not
    # fail. Site B's report of the first run, completed, must not stand for this one.
    resend = ['-e', '{"kelvora_only": ["servo_cpu"], "kelvora_all": true}']
    rc, results = playbook('not-run', ROLLOUT, inventory(inputs, outputs, fleet, port, PASSWORD_A, readable), *resend,
                           run='first')
    check(rc != 0, 'a failed site fails the playbook')
    a, b = update_result(results, 'site_a'), update_result(results, 'site_b')
    check(a and a['changed'] and not a['failed'], 'site_a updated while site_b failed: %s' % a)
    check(b and b['failed'] and not b['changed'] and b.get('rc') == 2 and 'refused the update' in b.get('msg', ''),
          'site_b: kelvora-fleet refused to start: %s' % b)
    check(uploads() == [3, 3, 2], 'one upload each on site_a, none on site_b: %s' % uploads())
    rows = table('first')
    check(sorted((r['site'], r['end'], r['files_sent']) for r in rows)
          == [('site_a', 'completed', '1')] * 2 + [('site_b', 'not-run', '0')]
          and [r['reason'] for r in rows if r['site'] == 'site_b'][0].startswith('kelvora-fleet refused the update'),
          'the merged table has this run of each site, site_b not run: %s' % rows)

    # 6. The canary site's password is refused: it fails naming its cameras, and no other site
    # starts.
    rc, results = playbook('canary', ROLLOUT, inventory(inputs, outputs, fleet, port, WRONG_A, good_b), *resend)
    a = update_result(results, 'site_a')
    check(rc != 0 and a and a['failed'] and a['changed'] and '127.0.61.1:%d (upload-failed' % port in a.get('msg', ''),
          'the canary site fails naming its camera and end: %s' % a)
    check(update_result(results, 'site_b') is None, 'after a failed canary site no other site is updated')
    check(uploads() == [4, 4, 2], 'only the canary site was sent a file: %s' % uploads())
    check(sorted((r['site'], r['end']) for r in table('canary'))
          == [('site_a', 'upload-failed')] * 2 + [('site_b', 'no-report')],
          'the table has the failed site\'s report and names the site never reached: %s' % table('canary'))

    # No user ID or password anywhere Ansible or kelvora-fleet wrote: outputs (-vvv included),
    # reports, logs, history, Ansible's temporary folders.
    for root, _, files in os.walk(outputs):
        for name in files:
            data = open(os.path.join(root, name), 'rb').read()
            for secret in CREDENTIALS:
                check(secret.encode() not in data,
                      'no user ID or password in %s' % os.path.relpath(os.path.join(root, name), top))
    leftovers = [os.path.join(root, d) for folder in (env['TMPDIR'], env['ANSIBLE_REMOTE_TEMP'])
                 for root, dirs, _ in os.walk(folder) for d in dirs if d.startswith('kelvora-fleet-')]
    check(not leftovers, 'the modules left no temporary folder behind: %s' % leftovers)
    vvv = open(os.path.join(outputs, 'ansible-first.log')).read()
    check('<127.0.0.1> EXEC' in vvv or 'EXEC /bin/sh' in vvv, 'the -vvv run shows what it ran')


if __name__ == '__main__':
    sys.exit(main())
