#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix; the exit code is the program's.
# WINEPREFIX comes from the caller (ctest sets it per build folder). As root, Wine runs
# without the capabilities that override file permissions, as scripts/wine-session.sh says.
set -eu
: "${WINEPREFIX:?set WINEPREFIX to the Wine prefix of the build}"
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# shellcheck source=scripts/wine-session.sh
source "$(dirname "$0")/wine-session.sh"
exec "${UNDER_FILE_PERMISSIONS[@]}" wine "$@"
