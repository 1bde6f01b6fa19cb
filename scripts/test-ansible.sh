#!/usr/bin/env bash
# The Ansible collection quillet.admin as a user installs it: built with ansible-galaxy into a
# tarball, installed offline from it into a scratch collections folder, then ansible-test's
# sanity checks and integration targets from there, against stand-in servers, with the build's
# quillet on PATH.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/linux}" && pwd)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillet-ansible.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
ansible-galaxy collection build ansible/quillet/admin --output-path "$scratch" >/dev/null
ANSIBLE_COLLECTIONS_PATH=$scratch/collections ansible-galaxy collection install --offline -p "$scratch/collections" "$scratch"/quillet-admin-*.tar.gz >/dev/null

# Debian's interpreter first: it is the one with ansible-core, whatever else is on PATH.
export PATH=/usr/bin:$build/cli:$PATH
cd "$scratch/collections/ansible_collections/quillet/admin"
# Skipped: the checks for which ansible-test builds a virtual environment with pip from the
# network (ansible-doc, changelog, import, pep8, pylint, runtime-metadata,
# validate-modules, yamllint). ansible-doc itself stands in for its check: each module's
# documentation must load, with its fragments, and tests/doc_options.py stands in for
# validate-modules' comparison of the documented options with the argument_spec.
skipped=(ansible-doc changelog import pep8 pylint runtime-metadata
  validate-modules yamllint)
skip_options=()
for test in "${skipped[@]}"; do skip_options+=(--skip-test "$test"); done
ansible-test sanity --local --python 3.11 --color no "${skip_options[@]}"
for module in plugins/modules/*.py; do
  name=$(basename "$module" .py)
  ANSIBLE_COLLECTIONS_PATH=$scratch/collections ansible-doc "quillet.admin.$name" >/dev/null
done
ANSIBLE_COLLECTIONS_PATH=$scratch/collections python3 tests/doc_options.py
ansible-test integration --local --python 3.11 --color no
targets=$(find tests/integration/targets -mindepth 1 -maxdepth 1 -type d ! -name 'setup_*' | wc -l)
echo "test-ansible: $targets integration targets passed"
