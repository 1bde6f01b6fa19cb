#!/bin/sh
# Runs one Win32 program under Wine: run_under_wine.sh PREFIX DLL_FOLDER PROGRAM [ARGUMENT...]
# The prefix is made on first use; Mono and Gecko are not wanted, so nothing asks for them.
set -eu
export WINEPREFIX="$1" WINEPATH="$2" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
shift 2
exec wine "$@"
