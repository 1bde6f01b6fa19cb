#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: quillet_plan
short_description: Checks, runs or verifies a quillet maintenance plan
description:
  - Drives C(quillet plan check), C(quillet plan run) and C(quillet plan verify) on a plan file,
    which names the servers, their password files, the selection, the tasks and the retention.
  - C(changed) is true only when the run created or deleted a generation.
  - In check mode C(run) becomes C(quillet plan run --dry-run), which changes nothing, and the
    result lists the generations it would create and delete; C(verify) reads only and runs as
    it is; C(check) proves the snapshot root writable by making its state folder C(.quillet)
    (and the root), which in check mode it removes again when it made them.
author: Quillet developers
version_added: 1.0.0
options:
  path:
    description: The plan file.
    type: path
    required: true
  action:
    description: What to do with the plan.
    type: str
    choices: [check, run, verify]
    default: run
  jobs:
    description: Servers at once, in place of the plan's C(jobs).
    type: int
notes:
  - The passwords come from the plan's own C(password_file) or C(password_env) entries.
extends_documentation_fragment:
  - quillet.admin.common
  - quillet.admin.common.wait_lock
'''

EXAMPLES = r'''
- name: The night's work
  quillet.admin.quillet_plan:
    path: /etc/quillet/nightly.toml
  register: night
'''

RETURN = r'''
summary:
  description: The run's summary as C(quillet plan run --format json) prints it (servers, databases, tasks, codes).
  returned: action is run
  type: dict
created:
  description: The generations made, each as server, database and generation (in check mode, that would be made).
  returned: action is run
  type: list
  elements: dict
deleted:
  description: The generations deleted (in check mode, that would be), with the rule that chose each.
  returned: action is run
  type: list
  elements: dict
output:
  description: What C(check) or C(verify) printed, one line each.
  returned: action is check or verify
  type: list
  elements: str
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
    WAIT_LOCK_OPTIONS, Quillet, argument_spec, fail, plan_run)


def main():
    module = AnsibleModule(
        argument_spec=argument_spec(
            WAIT_LOCK_OPTIONS,
            path=dict(type='path', required=True),
            action=dict(type='str', default='run', choices=['check', 'run', 'verify']),
            jobs=dict(type='int'),
        ),
        supports_check_mode=True)
    quillet = Quillet(module)
    path, action = module.params['path'], module.params['action']

    if action != 'run':
        # The check proves the snapshot root writable by making its state folder: in check
        # mode what it made for that is taken away again.
        made = missing_folders(path) if module.check_mode and action == 'check' else []
        try:
            rc, out, err = quillet.run(['plan', action, path], check=False)
        finally:
            for folder in made:
                try:
                    os.rmdir(folder)
                except OSError:
                    pass
        lines = [line for line in (out + err).splitlines() if line.strip()]
        if rc != 0:
            fail(module, quillet.error(rc, err or out, ['plan']), output=lines, changed=False)
        module.exit_json(changed=False, rc=rc, code=0, code_text=None, output=lines,
                         msg='the plan %s: %s passed' % (path, action))

    args = ['plan', 'run', path]
    if module.params['jobs'] is not None:
        args += ['--jobs', str(module.params['jobs'])]
    module.exit_json(**plan_run(module, quillet, args, wait_lock=module.params['wait_lock']))


def missing_folders(path):
    """The folders from the plan's snapshot root's state folder upwards that do not exist yet,
    deepest first; none when the root cannot be read from the plan (the check then reports it)."""
    try:
        with open(path, 'rb') as handle:
            text = handle.read().decode('utf-8')
    except (IOError, OSError, UnicodeDecodeError):
        return []
    root = None
    try:
        import tomllib
        root = tomllib.loads(text).get('snapshot_root')
    except ImportError:
        found = re.search(r'^\s*snapshot_root\s*=\s*("(?:[^"\\]|\\.)*")', text, re.MULTILINE)
        root = json.loads(found.group(1)) if found else None
    except ValueError:
        return []
    if not isinstance(root, str) or not root:
        return []
    folder = os.path.join(os.path.dirname(os.path.abspath(path)), root, '.quillet')
    made = []
    while folder and not os.path.lexists(folder):
        made.append(folder)
        parent = os.path.dirname(folder)
        if parent == folder:
            break
        folder = parent
    return made


if __name__ == '__main__':
    main()
