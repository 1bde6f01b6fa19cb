# -*- coding: utf-8 -*-
# The options the modules of quillet.admin share, in the parts of module_utils' argument_spec:
# DOCUMENTATION for every module, SERVER for those that drive a server, WAIT_LOCK for those that
# run a plan.

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  quillet:
    description:
      - The quillet command line to run. A name without a folder is looked up on C(PATH)
        (the one of I(environment) when that sets it). Without it, C(quillet) is looked up there.
    type: path
  environment:
    description:
      - Variables set for the command line, such as C(QUILLET_STANDIN_ROOT) for stand-in servers.
      - The value of a variable whose name contains C(PASSWORD), such as C(QUILLET_SERVER_PASSWORD),
        is masked in the result and the log.
    type: dict
    default: {}
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
notes:
  - The modules drive the installed C(quillet) command line through its JSON output, so they work
    wherever it does, the stand-in server included.
  - Results carry C(rc) (the command line's exit status), C(code) (the library's return code, when
    it gave one) and C(code_text) (its meaning).
'''

    SERVER = r'''
options:
  server:
    description: The server.
    type: str
    required: true
  password:
    description:
      - The server's password.
      - It reaches the command line through its standard input, never as an argument.
      - Without I(password) and I(password_file), the command line reads C(QUILLET_SERVER_PASSWORD)
        (else C(QUILLET_PASSWORD)) from the environment.
    type: str
  password_file:
    description:
      - A file whose first line is the server's password; only its owner may read it.
    type: path
'''

    WAIT_LOCK = r'''
options:
  wait_lock:
    description:
      - How long the run waits for another run of the same snapshot root to end (C(30s), C(10m),
        C(1h)), as when several hosts of a play back up into one root; set to an empty text or
        null, the run fails at once when another holds the lock.
    type: str
    default: 1h
'''
