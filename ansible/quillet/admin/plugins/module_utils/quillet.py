# -*- coding: utf-8 -*-
# Runs the installed quillet command line for the modules of quillet.admin: passwords go through
# its standard input (--password-file -), lists come back as its JSON, and a failure becomes the
# result keys rc, code, code_text and msg.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import re
import shutil

# The options the doc fragment quillet.admin.common documents, in its parts: every module takes
# the command line and its environment; one that drives a server, the server and its password;
# one that runs a plan, how long it waits for the lock.
COMMAND_LINE_OPTIONS = dict(
    quillet=dict(type='path'),
    environment=dict(type='dict', default={}),
)

SERVER_OPTIONS = dict(
    server=dict(type='str', required=True),
    password=dict(type='str', no_log=True),
    password_file=dict(type='path', no_log=False),
)

WAIT_LOCK_OPTIONS = dict(wait_lock=dict(type='str', default='1h'))

COMMON_MUTUALLY_EXCLUSIVE = [('password', 'password_file')]


def argument_spec(*shared, **own):
    """A module's argument_spec: the shared parts it takes, then its own options, which win."""
    spec = dict(COMMAND_LINE_OPTIONS)
    for part in shared:
        spec.update(part)
    spec.update(own)
    return spec


# "quillet dir-db: failed with return code 9103 (wrong server password): the server's words"
_FAILURE = re.compile(
    r'failed with return code (-?\d+)(?: \((.*?)\)(?=: |$))?(?:: (.*))?$', re.MULTILINE)


class QuilletError(Exception):
    """A call of the command line that failed, with what the result keys need."""

    def __init__(self, msg, rc=None, code=None, code_text=None):
        super(QuilletError, self).__init__(msg)
        self.msg = msg
        self.rc = rc
        self.code = code
        self.code_text = code_text

    def result(self):
        return dict(msg=self.msg, rc=self.rc, code=self.code, code_text=self.code_text)


def parse_failure(stderr):
    """The library's return code and its meaning from the command line's words, or (None, None)
    when the failure was not the library's (a command line not understood, no password)."""
    found = None
    for found in _FAILURE.finditer(stderr or ''):
        pass
    if found is None:
        return None, None
    return int(found.group(1)), found.group(2)


class Quillet(object):
    """The command line as one module's parameters set it up."""

    def __init__(self, module):
        self.module = module
        params = module.params
        self.environment = dict((str(k), str(v)) for k, v in (params.get('environment') or {}).items())
        # A password handed on through the environment (QUILLET_SERVER_PASSWORD) is masked
        # wherever the module's result or log would show it.
        for key, value in self.environment.items():
            if 'PASSWORD' in key.upper() and value:
                module.no_log_values.add(value)
        self.program = self._find_program(params.get('quillet'))

    def _find_program(self, given):
        if given and os.sep in given:
            if not os.path.isfile(given) or not os.access(given, os.X_OK):
                self.module.fail_json(msg='the quillet command line %s is not an executable file' % given,
                                      rc=None, code=None, code_text=None)
            return given
        name = given or 'quillet'
        # A PATH given through `environment` is the one the command line would be found on.
        found = shutil.which(name, path=self.environment.get('PATH', os.environ.get('PATH')))
        if not found:
            self.module.fail_json(msg='the quillet command line (%s) is not on PATH: install it or set the option quillet'
                                  % name, rc=None, code=None, code_text=None)
        return found

    def _password(self):
        """The password text, or None when a file (or the environment) supplies it."""
        text = self.module.params.get('password')
        # The command line reads the first line only: a second would be silently dropped.
        if text is not None and ('\n' in text or '\r' in text):
            self.module.fail_json(msg='password must be one line', rc=None, code=None, code_text=None)
        return text

    def run(self, args, secret=None, secret_file=None, check=True):
        """Runs `quillet ARGS`, the password from `secret` (through standard input) or from
        `secret_file`; returns (rc, stdout, stderr) and raises QuilletError when check and rc != 0."""
        command = [self.program] + list(args) + ['-q']
        data = ''
        if secret is not None:
            command += ['--password-file', '-']
            data = secret
        elif secret_file is not None:
            command += ['--password-file', secret_file]
        # Standard input is always a pipe, so the command line never waits at a prompt.
        rc, out, err = self.module.run_command(command, data=data, binary_data=True,
                                               environ_update=self.environment)
        if rc != 0 and check:
            raise self.error(rc, err, args)
        return rc, out, err

    def error(self, rc, stderr, args):
        code, code_text = parse_failure(stderr)
        words = (stderr or '').strip() or 'quillet %s ended with exit status %d' % (args[0], rc)
        return QuilletError(words, rc=rc, code=code, code_text=code_text)

    def server_job(self, args, check=True):
        return self.run(args, secret=self._password(),
                        secret_file=self.module.params.get('password_file'), check=check)

    def json_list(self, args):
        """A list subcommand's JSON, through the server's password."""
        rc, out, err = self.server_job(list(args) + ['--format', 'json'])
        return self.parse_json(out, args)

    def parse_json(self, out, args):
        try:
            return json.loads(out)
        except ValueError:
            raise QuilletError('quillet %s printed no JSON: %s' % (args[0], out[:200]), rc=0)

    def databases(self, server):
        return self.json_list(['dir-db', server])

    def connections(self, server):
        return self.json_list(['list-connections', server])


def fail(module, error, **extra):
    result = error.result()
    result.update(extra)
    module.fail_json(**result)


def plan_changes(summary):
    """The generations a plan run's summary created (or, dry, would create) and deleted."""
    created, deleted = [], []
    dry = summary.get('dry_run')
    for server in summary.get('servers', []):
        for database in server.get('databases', []) + server.get('orphans', []):
            where = dict(server=server.get('server'), database=database.get('database'))
            snapshots = [t for t in database.get('tasks', []) if t.get('task') == 'snapshot']
            if database.get('generation'):
                created.append(dict(where, generation=database['generation']))
            elif dry and any(t.get('success') for t in snapshots):
                created.append(dict(where, generation=None))
            for gone in database.get('deleted', []):
                # A deletion that failed left the generation where it was.
                if not gone.get('problem'):
                    deleted.append(dict(where, generation=gone.get('generation'), rule=gone.get('rule')))
    return created, deleted


def plan_failures(summary):
    """Each failed item of a plan run's summary, named by server, database and task."""
    failures = []
    for server in summary.get('servers', []):
        name = server.get('server')
        for problem in server.get('problems', []):
            failures.append(dict(server=name, database=None, task=None, code=None, text=problem,
                                 msg='server %s: %s' % (name, problem)))
        items = [(None, t) for t in server.get('tasks', [])]
        for database in server.get('databases', []) + server.get('orphans', []):
            items += [(database.get('database'), t) for t in database.get('tasks', [])]
            items += [(database.get('database'), dict(task='delete ' + str(d.get('generation')), success=False,
                                                      code=None, text=d['problem']))
                      for d in database.get('deleted', []) if d.get('problem')]
        for database, task in items:
            if task.get('success') or task.get('skipped'):
                continue
            words = task.get('text') or ''
            if task.get('detail'):
                words += ': ' + task['detail']
            place = 'server %s database %s' % (name, database) if database else 'server %s' % name
            # 0 with a failure: the library was not the one that failed.
            code = task.get('code') or None
            failures.append(dict(server=name, database=database, task=task.get('task'), code=code,
                                 text=task.get('text'),
                                 msg='%s: %s failed%s%s' % (place, task.get('task'),
                                                            ' with return code %s' % code if code else '',
                                                            ' (%s)' % words if words else '')))
    return failures


def hide_plans(text, plans):
    """The words without the places in a temporary plan, a file the user never sees: what is
    left names the term or option."""
    for plan in plans:
        text = re.sub(re.escape(plan) + r'(?::\d+)*: ', '', text)
    return text


def plan_run(module, quillet, args, wait_lock=None, dry=None, plans=(), **extra):
    """Runs `quillet plan run` (dry in check mode, or when dry) and returns the result from its
    summary: changed when a generation was created or deleted; fails naming each failed item."""
    dry = module.check_mode if dry is None else dry
    args = list(args) + ['--format', 'json']
    if wait_lock:
        # Hosts of one play back up into one root side by side: each waits its turn for the lock.
        args += ['--wait-lock', wait_lock]
    if dry:
        args.append('--dry-run')
    rc, out, err = quillet.run(args, check=False)
    out, err = hide_plans(out, plans), hide_plans(err, plans)
    try:
        summary = json.loads(out)
    except ValueError:
        summary = None
    if not isinstance(summary, dict) or 'servers' not in summary:
        # A plan or command line not understood (2), another run holding the lock (3): words only.
        fail(module, quillet.error(rc, err, ['plan']), changed=False, **extra)
    created, deleted = plan_changes(summary)
    result = dict(extra, changed=bool(created or deleted), summary=summary, created=created,
                  deleted=deleted, rc=rc, code=0, code_text=None)
    failures = plan_failures(summary)
    if failures or rc != 0:
        first = failures[0] if failures else {}
        # code_text is a code's meaning: the words of a failure not the library's are in msg only.
        result.update(code=first.get('code'), code_text=first.get('text') if first.get('code') else None,
                      msg='; '.join(item['msg'] for item in failures) or (err.strip() or 'the run failed'))
        module.fail_json(**result)
    result['msg'] = '%s %d generation(s), %s %d' % (
        'would create' if dry else 'created', len(created), 'would delete' if dry else 'deleted', len(deleted))
    return result
