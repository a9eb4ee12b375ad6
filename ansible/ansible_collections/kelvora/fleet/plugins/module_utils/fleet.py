# Runs kelvora-fleet for the collection's modules and reads what it prints. Every decision
# about cameras (targets, plans, credentials, what counts as done) is the program's; this
# only starts it the way a module must and judges its exit status and JSON.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os
import shutil
import subprocess
import tempfile

# Ends that kelvora-fleet's own exit status counts as success besides a verified run.
QUIET_ENDS = ('up-to-date', 'nothing-to-send')


def find_executable(module):
    """The kelvora-fleet to run: a path as given, or a name looked up on the PATH."""
    name = module.params['executable']
    if os.sep in name:
        if not (os.path.isfile(name) and os.access(name, os.X_OK)):
            module.fail_json(msg='%s is not an executable file' % name)
        return name
    return module.get_bin_path(name, required=True)


def run(module, argv, secrets=None):
    """Runs argv; returns (rc, stdout, stderr).

    kelvora-fleet asks on /dev/tty for missing credentials: a local connection can still
    have one, and a question nobody sees would hold the play forever. A session of its own
    leaves it without a controlling terminal, so it refuses (exit 2) instead. Its output goes
    to files, not pipes: if this module is ended early (a dropped SSH connection), the program
    is not killed (SIGPIPE) by its next write to a pipe nobody reads; it carries on to its end
    and writes its report and history. The camera's user
    and password go only into its environment, never into argv.
    Those files are kept in the module's own temporary folder, which Ansible removes after the
    task: even a plan in check mode leaves the managed host as it found it.
    """
    env = dict(os.environ)
    env.update(secrets or {})
    scratch = tempfile.mkdtemp(prefix='kelvora-fleet-output-', dir=module.tmpdir)
    try:
        with open(os.path.join(scratch, 'stdout'), 'w+b') as out, open(os.path.join(scratch, 'stderr'), 'w+b') as err:
            try:
                rc = subprocess.call(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err, env=env,
                                     start_new_session=True)
            except OSError as e:
                module.fail_json(msg='cannot run %s: %s' % (argv[0], e), cmd=argv)
            out.seek(0)
            err.seek(0)
            return rc, out.read().decode('utf-8', 'replace'), err.read().decode('utf-8', 'replace')
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def parse_json(module, text, what, **result):
    try:
        document = json.loads(text)
    except ValueError as e:
        module.fail_json(msg='%s is not JSON: %s' % (what, e), **result)
    if not isinstance(document, dict) or not isinstance(document.get('cameras'), list):
        module.fail_json(msg='%s has no "cameras" list' % what, **result)
    return document


def exit_text(rc):
    return 'signal %d' % -rc if rc < 0 else 'exit %d' % rc


def last_lines(text, count=5):
    lines = [line for line in text.splitlines() if line.strip()]
    return '\n'.join(lines[-count:])


def target_args(params):
    """--exclude for each exclusion, then the targets after "--" (none is an option)."""
    argv = []
    for excluded in params.get('exclude') or []:
        argv += ['--exclude', excluded]
    return argv + ['--'] + list(params['targets'])


def camera_done(camera):
    """Success for one camera of a report, as kelvora-fleet's exit status counts it."""
    if camera.get('end') == 'completed':
        return bool(camera.get('verified'))
    return camera.get('end') in QUIET_ENDS


def describe(camera):
    """'ADDRESS (END: why)' for a failure message."""
    end = camera.get('end') or 'unknown'
    if end == 'completed' and not camera.get('verified'):
        end = 'completed, not verified'
    why = camera.get('reason') or camera.get('message') or camera.get('error') or ''
    return '%s (%s%s)' % (camera.get('address'), end, ': ' + why if why else '')
