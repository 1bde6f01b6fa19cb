#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: quillet_info
short_description: Facts of a SQLBase server, its databases and connections, and of a plan
description:
  - Reads a server's databases (C(quillet dir-db)) and its connections (C(quillet list-connections)),
    and, for a plan file, the plan's status per database (C(quillet plan status)).
  - Changes nothing, so it is never C(changed), in check mode or not.
author: Quillet developers
version_added: 1.0.0
options:
  server:
    description: The server. Without it only the plan's status is read.
    required: false
  plan:
    description:
      - A plan file; its status per database (the age of the newest verified generation among
        it) is returned as I(plan_status).
    type: path
extends_documentation_fragment:
  - quillet.admin.common
  - quillet.admin.common.server
'''

EXAMPLES = r'''
- name: What ACME holds
  quillet.admin.quillet_info:
    server: ACME
    password_file: /etc/quillet/acme.pw
  register: acme

- name: Who is connected to STOCK
  ansible.builtin.debug:
    msg: "{{ acme.connections | selectattr('database', 'equalto', 'STOCK') | map(attribute='user') }}"
'''

RETURN = r'''
databases:
  description: The server's databases.
  returned: when server is given
  type: list
  elements: str
  sample: [STOCK, ORDERS]
connections:
  description: The server's client processes.
  returned: when server is given
  type: list
  elements: dict
  contains:
    process:
      description: The process number.
      type: int
    database:
      description: The database it is connected to.
      type: str
    user:
      description: Its user.
      type: str
    program:
      description: Its program.
      type: str
  sample: [{process: 12, database: STOCK, user: SYSADM, program: REPORTS}]
plan_status:
  description: C(quillet plan status PLAN --format json) as it prints it.
  returned: when plan is given
  type: raw
code:
  description: The library's return code of a failed job.
  returned: failure
  type: int
code_text:
  description: The meaning of I(code).
  returned: failure
  type: str
rc:
  description: The command line's exit status; null when the task
    failed before it ran (an option not understood, no command line).
  returned: always
  type: int
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.quillet.admin.plugins.module_utils.quillet import (
    COMMON_MUTUALLY_EXCLUSIVE, SERVER_OPTIONS, Quillet, QuilletError, argument_spec, fail)


def main():
    # The server is optional: a plan's status alone needs none.
    spec = argument_spec(SERVER_OPTIONS, server=dict(type='str'), plan=dict(type='path'))
    module = AnsibleModule(argument_spec=spec, mutually_exclusive=COMMON_MUTUALLY_EXCLUSIVE,
                           required_one_of=[('server', 'plan')], supports_check_mode=True)
    quillet = Quillet(module)
    server, plan = module.params['server'], module.params['plan']
    result = dict(changed=False, rc=0, code=0, code_text=None)
    try:
        if server:
            result['databases'] = quillet.databases(server)
            result['connections'] = quillet.connections(server)
        if plan:
            # The plan names its servers and their passwords itself.
            rc, out, err = quillet.run(['plan', 'status', plan, '--format', 'json'])
            result['plan_status'] = quillet.parse_json(out, ['plan'])
    except QuilletError as error:
        fail(module, error, changed=False)
    result['msg'] = 'read %s' % ' and '.join(
        ([server] if server else []) + (['the plan %s' % plan] if plan else []))
    module.exit_json(**result)


if __name__ == '__main__':
    main()
