#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: quillet_snapshot
short_description: Backs up a server's databases into generations, as a quillet plan does
description:
  - Runs C(quillet plan run) over a plan of one server with the one task C(snapshot), written
    for the run into a private temporary file, so that the generations, their manifests, the
    retention and the journal are the plan's, and C(quillet plan list) on a plan with the same
    I(directory) as its C(snapshot_root) sees them.
  - C(changed) is true only when a generation was created or deleted.
  - In check mode the run is C(--dry-run) and the result lists the generations it would create and
    delete; a file where a folder of the snapshot root must be fails, as in the run.
author: Quillet developers
version_added: 1.0.0
options:
  databases:
    description: The plan's selection, globs; a term starting with C(!) excludes; each term must match a database.
    type: list
    elements: str
    default: ['*']
  directory:
    description: The snapshot root, C(DIRECTORY/SERVER/DATABASE/GENERATION/).
    type: path
    required: true
  retention:
    description: The plan's retention keys.
    type: dict
    suboptions:
      keep_last:
        description: The newest N complete, verified generations are kept.
        type: int
      keep_within:
        description: Every generation younger than this is kept (C(s), C(m), C(h), C(d), C(w)).
        type: str
      min_keep:
        description: Never fewer than this.
        type: int
      orphans:
        description: Generations of a database the server no longer has.
        type: str
        choices: [keep, expire, warn]
  max_age:
    description:
      - A database whose newest verified generation is younger than this (C(90m), C(20h), C(1d),
        or seconds) is skipped. The selection is the plan's (globs of any case; a term that
        matches nothing fails); names that differ only in case run together. When every
        selected database is that young nothing runs and the task is not C(changed).
    type: str
extends_documentation_fragment:
  - quillet.admin.common
  - quillet.admin.common.server
  - quillet.admin.common.wait_lock
'''

EXAMPLES = r'''
- name: Back up what is due, every hour
  quillet.admin.quillet_snapshot:
    server: ACME
    password_file: /etc/quillet/acme.pw
    databases: ['*', '!TEMP*']
    directory: /var/backups/quillet
    retention: {keep_last: 7, min_keep: 2}
    max_age: 20h
'''

RETURN = r'''
summary:
  description: The run's summary as C(quillet plan run --format json) prints it.
  returned: when a run was made
  type: dict
created:
  description: The generations made, each as server, database and generation (in check mode, that would be made).
  returned: always
  type: list
  elements: dict
deleted:
  description: The generations deleted by the retention (in check mode, that would be).
  returned: always
  type: list
  elements: dict
ages:
  description: Per database of the selection, the age in seconds of its newest verified generation after the task (null where there is none).
  returned: always
  type: dict
  sample: {STOCK: 12, ORDERS: 86412}
not_due:
  description: The databases skipped by I(max_age), with the age of their newest verified generation in seconds.
  returned: always
  type: list
  elements: dict
rc:
  description: The command line's exit status; null when the task
    failed before it ran (an option not understood, no command line).
  returned: always
  type: int
'''

import json
import os
import re

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.quillet.admin.plugins.module_utils.quillet import (
    COMMON_MUTUALLY_EXCLUSIVE, SERVER_OPTIONS, WAIT_LOCK_OPTIONS, Quillet, QuilletError, argument_spec, fail,
    plan_run)

UNITS = dict(s=1, m=60, h=3600, d=86400, w=604800)
# The variable through which a password given as text reaches the plan (never the plan's text).
PASSWORD_VARIABLE = 'QUILLET_ANSIBLE_SERVER_PASSWORD'


def seconds(text):
    found = re.match(r'^\s*(\d+)\s*([smhdw]?)\s*$', text or '')
    if not found:
        return None
    return int(found.group(1)) * UNITS[found.group(2) or 's']


def toml_text(value):
    # A JSON string is a TOML basic string for everything a name or path holds.
    return json.dumps(value)


def plan_text(params, password_line):
    lines = ['snapshot_root = %s' % toml_text(params['directory']), 'jobs = 1', '']
    retention = dict((k, v) for k, v in (params.get('retention') or {}).items() if v is not None)
    if retention:
        lines.append('[retention]')
        for key, value in sorted(retention.items()):
            lines.append('%s = %s' % (key, value if isinstance(value, int) else toml_text(value)))
        lines.append('')
    lines += ['[[servers]]', 'name = %s' % toml_text(params['server']), password_line,
              'databases = [%s]' % ', '.join(toml_text(d) for d in params['databases']),
              'tasks = ["snapshot"]', '']
    return '\n'.join(lines)


def exact_terms(names):
    """Terms that select these databases by name. The plan's globs match any case and have no
    escape, so a name that differs from another only in case takes that one along."""
    return sorted(set(names))


def selection(module, quillet, plan, wait_lock):
    """The databases the plan selects, as a dry run of it names them: its own rules, its own
    errors for a term that matches nothing."""
    result = plan_run(module, quillet, ['plan', 'run', plan], wait_lock=wait_lock, dry=True, plans=(plan,))
    return [d.get('database') for s in result['summary'].get('servers', []) for d in s.get('databases', [])]


def check_targets(module, directory, created, **extra):
    """A dry run does not look at the snapshot root: what the real run would refuse, because a
    file stands where a folder must, fails here too."""
    for item in created:
        path = directory
        for part in (item['server'], item['database']):
            path = os.path.join(path, part)
            # rc 1: the exit status the run would end with.
            if os.path.lexists(path) and not os.path.isdir(path):
                module.fail_json(msg='%s is not a folder: the snapshot of %s on %s cannot be made there'
                                 % (path, item['database'], item['server']), rc=1, code=None,
                                 code_text=None, changed=False, **extra)


def main():
    spec = argument_spec(
        SERVER_OPTIONS, WAIT_LOCK_OPTIONS,
        databases=dict(type='list', elements='str', default=['*']),
        directory=dict(type='path', required=True),
        retention=dict(type='dict', options=dict(
            keep_last=dict(type='int'), keep_within=dict(type='str'), min_keep=dict(type='int'),
            orphans=dict(type='str', choices=['keep', 'expire', 'warn']))),
        max_age=dict(type='str'),
    )
    module = AnsibleModule(argument_spec=spec, mutually_exclusive=COMMON_MUTUALLY_EXCLUSIVE,
                           supports_check_mode=True)
    # The plan is read from a temporary folder, against which it would resolve relative paths:
    # backups made there would go with it.
    params = dict(module.params, directory=os.path.abspath(module.params['directory']))
    if params['password_file']:
        params['password_file'] = os.path.abspath(params['password_file'])
    quillet = Quillet(module)
    max_age = None
    if params['max_age'] is not None:
        max_age = seconds(params['max_age'])
        if max_age is None:
            module.fail_json(msg='max_age must be a number with s, m, h, d or w, such as 20h: not %r'
                             % params['max_age'], rc=None, code=None, code_text=None)

    env = {}
    if params['password'] is not None:
        env[PASSWORD_VARIABLE] = params['password']
        password_line = 'password_env = "%s"' % PASSWORD_VARIABLE
    elif params['password_file']:
        password_line = 'password_file = %s' % toml_text(params['password_file'])
    else:
        password_line = 'password_env = "%s"' % (
            'QUILLET_SERVER_PASSWORD' if 'QUILLET_SERVER_PASSWORD' in dict(os.environ, **quillet.environment)
            else 'QUILLET_PASSWORD')

    # The plan's password_env reads it from the command line's environment.
    quillet.environment.update(env)
    plan = os.path.join(module.tmpdir, 'snapshot.toml')
    not_due = []
    try:
        # The user's selection, from which the ages are read whatever part of it runs.
        write(plan, plan_text(params, password_line))
        run_plan = plan
        if max_age is not None:
            names = selection(module, quillet, plan, params['wait_lock'])
            ages = newest_ages(quillet, plan, params['server'])
            due = [n for n in names if ages.get(n) is None or ages[n] >= max_age]
            # STOCK and stock are one term to the plan: either both run or neither.
            folded = set(n.lower() for n in due)
            due = [n for n in names if n.lower() in folded]
            not_due = [dict(database=n, age_seconds=ages.get(n)) for n in names if n not in due]
            if not due:
                module.exit_json(changed=False, created=[], deleted=[], not_due=not_due, ages=ages, rc=0,
                                 code=0, code_text=None, msg='nothing is due: every database has a '
                                 'generation younger than %s' % params['max_age'])
            run_plan = os.path.join(module.tmpdir, 'due.toml')
            write(run_plan, plan_text(dict(params, databases=exact_terms(due)), password_line))
        result = plan_run(module, quillet, ['plan', 'run', run_plan], wait_lock=params['wait_lock'],
                          not_due=not_due, plans=(plan, run_plan))
        if module.check_mode:
            check_targets(module, params['directory'], result['created'], not_due=not_due)
        result['ages'] = newest_ages(quillet, plan, params['server'])
    except QuilletError as error:
        fail(module, error, changed=False)
    module.exit_json(**result)


def write(path, text):
    with open(path, 'w') as handle:
        handle.write(text)


def newest_ages(quillet, plan, server):
    """Per database, the age in seconds of its newest verified generation (None: there is none)."""
    rc, out, err = quillet.run(['plan', 'status', plan, '--format', 'json'], check=False)
    if not out.strip():
        raise quillet.error(rc, err, ['plan'])
    return dict((row.get('database'), row.get('age_seconds'))
                for row in quillet.parse_json(out, ['plan']) if row.get('server') == server)

if __name__ == '__main__':
    main()
