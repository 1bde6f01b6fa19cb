#!/usr/bin/env bash
# The README's nightly playbook over an inventory of three stand-in servers.
set -euo pipefail

work=$(mktemp -d "${TMPDIR:-/tmp}/quillet-fleet.XXXXXX")
trap 'rm -rf "$work"' EXIT
export QUILLET_STANDIN_ROOT=$work/servers
printf 'fleet-secret\n' >"$work/fleet.pw"
chmod 600 "$work/fleet.pw"
for server in ACME BETA GAMMA; do
  quillet server create "$server" --password-file "$work/fleet.pw"
  quillet create-db "$server" STOCK --password-file "$work/fleet.pw"
done
quillet create-db ACME ORDERS --password-file "$work/fleet.pw"

cat >"$work/inventory.yml" <<INVENTORY
sqlbase:
  hosts:
    ACME:
    BETA:
    GAMMA:
  vars:
    ansible_python_interpreter: "{{ ansible_playbook_python }}"
    quillet_password_file: $work/fleet.pw
    quillet_snapshot_root: $work/backups
    quillet_environment:
      QUILLET_STANDIN_ROOT: $work/servers
INVENTORY

ansible-playbook -i "$work/inventory.yml" nightly.yml "$@" | tee "$work/first"
grep -q 'ACME.*changed=1.*failed=0' "$work/first"
grep -q '4 databases; *oldest backup: [A-Z]* [A-Z]*, *[0-9.]* s old; *failed servers: none' "$work/first"
# Within max_age: nothing is due, nothing changes.
ansible-playbook -i "$work/inventory.yml" nightly.yml "$@" | tee "$work/second"
grep -qE 'GAMMA +: ok=1 +changed=0' "$work/second"
[ "$(find "$work/backups" -mindepth 3 -maxdepth 3 -name '2*Z' -type d | wc -l)" -eq 4 ]
