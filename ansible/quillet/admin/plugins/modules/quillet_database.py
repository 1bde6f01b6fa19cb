#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: quillet_database
short_description: Creates, drops, installs or deinstalls a database of a SQLBase server
description:
  - Makes a database present on a server or not, by the server's own list of its databases
    (C(quillet dir-db)); a database that is already as asked is left alone.
  - In check mode the module reads the list and says what it would change, and changes nothing;
    it fails where the real run would refuse the change as far as that is known beforehand (a
    name a stand-in server refuses, C(present) over a stand-in's kept file).
author: Quillet developers
version_added: 1.0.0
options:
  name:
    description: The database.
    type: str
    required: true
  state:
    description:
      - C(present) creates the database when the server does not list it.
      - C(absent) drops a listed database and its file.
      - C(installed) installs the database's existing file when the server does not list it.
      - C(deinstalled) deinstalls a listed database, keeping its file.
      - The server lists installed databases only, so a deinstalled database counts as missing for
        C(present) and C(installed) and as gone for C(absent) and C(deinstalled). C(present) does not
        install a deinstalled database's file in place of a new one; it fails with the library's
        code and text, and C(installed) is what installs it.
    type: str
    choices: [present, absent, installed, deinstalled]
    default: present
extends_documentation_fragment:
  - quillet.admin.common
  - quillet.admin.common.server
attributes:
  diff_mode:
    support: full
'''

EXAMPLES = r'''
- name: The database STOCK on ACME
  quillet.admin.quillet_database:
    server: ACME
    name: STOCK
    password_file: /etc/quillet/acme.pw

- name: Deinstall the archive, keeping its file
  quillet.admin.quillet_database:
    server: ACME
    name: ARCHIVE2019
    state: deinstalled
    password: "{{ acme_password }}"
'''

RETURN = r'''
databases:
  description: The server's databases after the task (in check mode, as they would be).
  returned: success
  type: list
  elements: str
  sample: [STOCK, ORDERS]
code:
  description: The library's return code of a failed job.
  returned: failure
  type: int
  sample: 9103
code_text:
  description: The meaning of I(code).
  returned: failure
  type: str
  sample: wrong server password
rc:
  description: The command line's exit status (0 when nothing failed); null when the task
    failed before it ran (an option not understood, no command line).
  returned: always
  type: int
  sample: 1
'''

import os
import re

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.quillet.admin.plugins.module_utils.quillet import (
    COMMON_MUTUALLY_EXCLUSIVE, SERVER_OPTIONS, Quillet, QuilletError, argument_spec, fail)

# What each state runs when the list is not yet as asked, and whether the name must be listed.
# -y: the command line asks no question without a terminal; it is there for the day it has one.
JOBS = dict(
    present=(['create-db'], True),
    installed=(['install-db'], True),
    absent=(['drop-db', '-y'], False),
    deinstalled=(['deinstall-db', '-y'], False),
)


# The stand-in server's rule for a database name; the command line refuses an empty one and a
# path for every server.
STANDIN_NAME = re.compile(r'^[A-Za-z][A-Za-z0-9_]{0,7}$')


def standin_folder(quillet, server):
    """The stand-in server's folder, or None when the server is not a stand-in of this machine."""
    root = quillet.environment.get('QUILLET_STANDIN_ROOT', os.environ.get('QUILLET_STANDIN_ROOT'))
    if not root:
        home = quillet.environment.get('HOME', os.environ.get('HOME'))
        root = os.path.join(home, '.quillet-standin') if home else '/tmp/quillet-standin'
    folder = os.path.join(root, server)
    return folder if os.path.isfile(os.path.join(folder, 'standin.catalogue')) else None


def refusal(quillet, server, name, state):
    """Why the real run would refuse the change, as far as it can be told without making it."""
    if not name or '/' in name:
        return 'the database name %r is refused by the command line' % name
    folder = standin_folder(quillet, server)
    if folder is None or state not in ('present', 'installed'):
        return None
    if not STANDIN_NAME.match(name):
        return ('the database name %r is refused: a database name has 1 to 8 letters, digits or _ and '
                'starts with a letter' % name)
    kept = os.path.exists(os.path.join(folder, name + '.db'))
    if state == 'present' and kept:
        return ('the create would fail with return code 9111: the server has a file of %s that is not '
                'installed: state=installed installs it' % name)
    if state == 'installed' and not kept:
        return 'the install would fail: the server has no file of %s' % name
    return None


def listing(names):
    return ''.join(name + '\n' for name in names)


def main():
    spec = argument_spec(
        SERVER_OPTIONS,
        name=dict(type='str', required=True),
        state=dict(type='str', default='present', choices=list(JOBS)),
    )
    module = AnsibleModule(argument_spec=spec, mutually_exclusive=COMMON_MUTUALLY_EXCLUSIVE,
                           supports_check_mode=True)
    server, name, state = module.params['server'], module.params['name'], module.params['state']
    quillet = Quillet(module)
    subcommand, listed = JOBS[state]

    try:
        before = quillet.databases(server)
    except QuilletError as error:
        fail(module, error)
    # Names are compared exactly: the stand-in holds STOCK and stock as two databases.
    changed = (name in before) != listed
    if not changed:
        after = before
    elif listed:
        after = before + [name]
        # A server that lists its databases in order lists the new one in its place too.
        if before == sorted(before):
            after.sort()
    else:
        after = [n for n in before if n != name]

    why = refusal(quillet, server, name, state) if changed and module.check_mode else None
    if why:
        module.fail_json(msg=why, changed=False, databases=before, rc=None, code=None, code_text=None)
    result = dict(changed=changed, databases=after, rc=0, code=0, code_text=None,
                  msg='%s %s on %s' % (state if changed else 'already ' + state, name, server))
    if module._diff:
        result['diff'] = dict(before=listing(before), after=listing(after),
                              before_header='%s databases' % server, after_header='%s databases' % server)
    if changed and not module.check_mode:
        try:
            quillet.server_job(subcommand + [server, name])
            result['databases'] = quillet.databases(server)
        except QuilletError as error:
            if state == 'present' and error.code == 9111:
                error.msg += ('; the server has a file of %s that is not installed: state=installed installs it'
                              % name)
            fail(module, error, databases=before)
        if module._diff:
            result['diff']['after'] = listing(result['databases'])
    module.exit_json(**result)


if __name__ == '__main__':
    main()
