#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix; the exit code is the program's.
# WINEPREFIX comes from the caller (ctest sets it per build folder); WINE_RUN_AS, set by
# scripts/wine-session.sh when run as root, names the user that Wine runs as.
set -eu
: "${WINEPREFIX:?set WINEPREFIX to the Wine prefix of the build}"
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ -n "${WINE_RUN_AS:-}" ] && [ "$(id -u)" -eq 0 ]; then
  home=$(getent passwd "$WINE_RUN_AS" | cut -d: -f6)
  exec setpriv --reuid="$WINE_RUN_AS" --regid="$WINE_RUN_AS" --init-groups \
    env HOME="$home" USER="$WINE_RUN_AS" wine "$@"
fi
exec wine "$@"
