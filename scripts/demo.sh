#!/usr/bin/env bash
# The README's main command: installs what is missing, builds quillet, creates a stand-in
# server in a scratch folder and walks through the jobs, printing each command as it runs it.
# QUILLET_DEMO_KEEP=1 keeps the scratch folder for a look afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

say() { printf '\n== %s\n' "$*"; }
# Prints a command the way a user would type it, then runs it.
show() {
  local shown=() word plain='^[A-Za-z0-9_./:=@%+$-]+$'
  for word in "$@"; do
    word=${word#"$repo/build/linux/cli/"}
    word=${word#"$repo/build/linux/examples/"}
    word=${word//"$scratch"/\$SCRATCH}
    if [[ $word =~ $plain ]]; then
      shown+=("$word")
    else
      shown+=("'${word//\'/\'\\\'\'}'")
    fi
  done
  echo "\$ ${shown[*]}"
  "$@"
}

say "Installing what is missing"
scripts/install-dependencies.sh

say "Building quillet and hold-connection"
cmake --preset linux >/dev/null
if ! cmake --build --preset linux --target quillet_cli hold_connection; then
  echo "demo: quillet could not be built; 'cmake --preset linux' names any export the" \
       "library does not have yet" >&2
  exit 1
fi
quillet=$repo/build/linux/cli/quillet
hold=$repo/build/linux/examples/hold-connection

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillet-demo.XXXXXX")
holder=""
cleanup() {
  if [ -n "$holder" ]; then kill "$holder" 2>/dev/null || true; fi
  if [ "${QUILLET_DEMO_KEEP:-}" = 1 ]; then
    echo "demo: the scratch folder stays in $scratch"
  else
    rm -rf "$scratch"
  fi
}
trap cleanup EXIT

# Everything the stand-in writes stays in the scratch folder.
export QUILLET_STANDIN_ROOT=$scratch/servers
unset QUILLET_STANDIN_SERVER
# The server's password comes from a file; the database user's from the environment.
# Only its owner may read it: quillet refuses a password file that others can read.
(umask 077 && printf 'demo-secret\n' >"$scratch/server-password")
server_password=(--password-file "$scratch/server-password")
export QUILLET_PASSWORD=SYSADM

say "A stand-in server, DEMOSRV, in \$SCRATCH=$scratch"
show "$quillet" server create DEMOSRV "${server_password[@]}"
show "$quillet" server status DEMOSRV

say "Create the database STOCK"
show "$quillet" create-db DEMOSRV STOCK "${server_password[@]}"

say "Reload STOCK from the sample script, under a database lock"
cat examples/stock.sql
show "$quillet" reload STOCK SYSADM examples/stock.sql

say "Export a query to CSV and show it (every line ends with CR LF)"
show "$quillet" export-csv STOCK SYSADM \
  "SELECT id, name, price, added FROM stock ORDER BY id" "$scratch/stock.csv"
tr -d '\r' <"$scratch/stock.csv"

say "List the databases"
show "$quillet" dir-db DEMOSRV "${server_password[@]}"

say "A second process holds a connection to STOCK"
"$hold" STOCK SYSADM 60 >"$scratch/holder.out" 2>&1 &
holder=$!
for _ in $(seq 50); do
  grep -q connected "$scratch/holder.out" && break
  sleep 0.1
done
cat "$scratch/holder.out"

say "List the connections"
show "$quillet" list-connections DEMOSRV "${server_password[@]}"

say "Snapshot every database, one directory each"
show mkdir "$scratch/snapshots"
show "$quillet" all-snapshot DEMOSRV "$scratch/snapshots" "${server_password[@]}"
(cd "$scratch" && find snapshots -type f -exec ls -l {} +)

say "Kill the second process's connection"
process=$("$quillet" list-connections DEMOSRV --raw "${server_password[@]}" |
  tr ';' '\n' | awk -F: '$4 == "hold-connection" { print $1; exit }')
show "$quillet" kill-connection DEMOSRV "$process" "${server_password[@]}"
wait "$holder" || { echo "demo: hold-connection was not ended by the kill" >&2; exit 1; }
holder=""
tail -n 1 "$scratch/holder.out"
show "$quillet" list-connections DEMOSRV "${server_password[@]}"

say "Terminate the server: it refuses connections until it is started again"
# -y: no question on a terminal; a script means it.
show "$quillet" terminate-server DEMOSRV -y "${server_password[@]}"
# Exit status 3 says that the server is not running.
show "$quillet" server status DEMOSRV || [ $? -eq 3 ]
if show "$quillet" dir-db DEMOSRV "${server_password[@]}"; then
  echo "demo: the terminated server still took a connection" >&2
  exit 1
fi

say "Done: every job ran against the stand-in server"
