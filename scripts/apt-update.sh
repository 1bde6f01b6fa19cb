#!/usr/bin/env bash
# apt-get update that survives a mirror caught mid-sync: one index that fails to download
# (often a foreign architecture's security list) must not stop an install that the other
# indexes can serve. Tries three times, then goes on with what it has, saying so.
set -uo pipefail

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

for attempt in 1 2 3; do
  $sudo apt-get update && exit 0
  [ "$attempt" -lt 3 ] && sleep $((attempt * 15))
done
echo "apt-get update failed three times; installing from the indexes that did download" >&2
exit 0
