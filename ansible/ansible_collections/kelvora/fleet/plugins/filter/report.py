# The reports of many sites as one table, on the controller. Each report is what
# kelvora-fleet wrote on a site machine (fetched back, or a module's RV report); the table is
# one row per camera with the site in front, so a customer's sites read as one fleet.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import csv
import io

from ansible.errors import AnsibleFilterError

COLUMNS = ['site', 'address', 'model', 'end', 'verified', 'files_sent', 'files', 'credentials',
           'started', 'ended', 'message', 'reason', 'detail']

# As kelvora-fleet's own CSV: a cell a spreadsheet would take for a formula gets a leading
# apostrophe, cameras and folders are not trusted to write into someone's spreadsheet.
FORMULA_STARTS = ('=', '+', '-', '@', '\t', '\r')


def cell(value):
    if value is None:
        return ''
    if isinstance(value, bool):
        return 'yes' if value else 'no'
    text = str(value)
    return "'" + text if text.startswith(FORMULA_STARTS) else text


def camera_row(site, camera):
    files = camera.get('files') or []
    sent = [f for f in files if f.get('result') != 'not-sent']
    detail = '; '.join('%s %s->%s %s' % (f.get('component'), f.get('version_before') or '?',
                                          f.get('version'), f.get('result')) for f in files)
    return [site, camera.get('address'), camera.get('model'), camera.get('end'), bool(camera.get('verified')),
            len(sent), len(files), camera.get('credentials'), camera.get('started'), camera.get('ended'),
            camera.get('message'), camera.get('reason'), detail]


def site_row(site, end, message, reason=''):
    """The one row of a site that has no camera to show."""
    return [site, '', '', end, False, 0, 0, '', '', '', message, ' '.join(str(reason).split()), '']


def report_csv(reports, sites=None):
    """CSV (RFC 4180, CRLF) of every camera of every site's report.

    reports: a dict, site name -> report (a dict with "cameras"), or None for a site with no
    report. A report with "not_run" (why, as text) stands for a site where kelvora-fleet did
    not run this time, so an earlier report of the site must not speak for it: its one row
    has the end "not-run". sites: every site the table must name; one without a report gets
    a row of its own with the end "no-report", so a site that was never reached is not
    silently missing.
    """
    if not isinstance(reports, dict):
        raise AnsibleFilterError('report_csv expects a dict of site name to report, got %s' % type(reports).__name__)
    names = list(reports)
    for site in sites or []:
        if site not in reports:
            names.append(site)
    out = io.StringIO()
    writer = csv.writer(out, lineterminator='\r\n')
    writer.writerow(COLUMNS)
    for site in names:
        report = reports.get(site)
        if not report:
            writer.writerow([cell(v) for v in site_row(site, 'no-report', 'no report came back from this site')])
            continue
        if not isinstance(report, dict) or not isinstance(report.get('cameras'), list):
            raise AnsibleFilterError('the report of %s has no "cameras" list' % site)
        if report.get('not_run') is not None:
            writer.writerow([cell(v) for v in site_row(site, 'not-run', 'kelvora-fleet did not run on this site, nothing was sent',
                                                       report['not_run'])])
            continue
        for camera in report['cameras']:
            writer.writerow([cell(v) for v in camera_row(site, camera)])
    return out.getvalue()


class FilterModule(object):
    def filters(self):
        return {'report_csv': report_csv}
