# -*- coding: utf-8 -*-
# Each module's options as ansible-doc renders them, its fragments merged, against the
# argument_spec the module builds: the part of validate-modules that runs without its virtual
# environment. Run from the installed collection, with ANSIBLE_COLLECTIONS_PATH its folder.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import glob
import importlib
import json
import os
import subprocess
import sys

KEYS = dict(type='str', required=False, default=None, choices=None, elements=None)


class Spec(Exception):
    def __init__(self, argument_spec):
        super(Spec, self).__init__()
        self.argument_spec = argument_spec


def stop(argument_spec, **ignored):
    """AnsibleModule's place: the module stops where it would read its parameters."""
    raise Spec(argument_spec)


def taken(name):
    """The argument_spec the module's main hands to AnsibleModule."""
    module = importlib.import_module('ansible_collections.quillet.admin.plugins.modules.' + name)
    module.AnsibleModule = stop
    try:
        module.main()
    except Spec as spec:
        return spec.argument_spec
    raise AssertionError('%s: main built no AnsibleModule' % name)


def documented(name):
    out = subprocess.check_output(['ansible-doc', '--json', 'quillet.admin.' + name])
    return json.loads(out)['quillet.admin.' + name]['doc'].get('options', {})


def differences(where, docs, spec):
    for option in sorted(set(docs) | set(spec)):
        if option not in spec or option not in docs:
            yield '%s.%s: %s only' % (where, option, 'documented' if option in docs else 'taken')
            continue
        for key, absent in KEYS.items():
            said, meant = docs[option].get(key, absent), spec[option].get(key, absent)
            if key == 'choices' and said and meant:
                # Their order is the documentation's to choose.
                said, meant = sorted(said), sorted(meant)
            if said != meant:
                yield '%s.%s: %s is %r in the documentation, %r in the code' % (where, option, key, said, meant)
        suboptions = docs[option].get('suboptions', {}), spec[option].get('options', {})
        for line in differences('%s.%s' % (where, option), *suboptions):
            yield line


def main():
    sys.path.insert(0, os.path.abspath(os.environ['ANSIBLE_COLLECTIONS_PATH'].split(os.pathsep)[0]))
    names = [os.path.basename(p)[:-3] for p in sorted(glob.glob('plugins/modules/quillet_*.py'))]
    found = [line for name in names for line in differences(name, documented(name), taken(name))]
    for line in found:
        print(line)
    print('doc_options: %d modules, %d differences' % (len(names), len(found)))
    return 1 if found or not names else 0


if __name__ == '__main__':
    sys.exit(main())
