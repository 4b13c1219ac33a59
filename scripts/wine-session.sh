# Sourced by the test and demo scripts: a private Xvfb display and one long-lived
# wineserver for a Wine prefix, both stopped by stop_wine_session.
#   start_wine_session PREFIX [--use-display]
#                               exports DISPLAY, WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES;
#                               --use-display keeps the caller's DISPLAY instead of Xvfb;
#                               sets up the fonts (set_up_fonts)
#   stop_wine_session
#
# Run as root, Wine would let every program write read-only files and create files in
# folders without write rights, which Windows refuses even to an administrator. So root runs
# Wine without the capabilities that override file permissions: it still owns and reaches
# its clone wherever that is (under /root, in a mktemp -d folder), but a file or folder
# without write bits is refused. scripts/wine-run.sh (ctest's emulator) does the same.

# What runs a command under file permissions: as root, setpriv drops CAP_DAC_OVERRIDE and
# CAP_DAC_READ_SEARCH for the command and everything it starts; anyone else needs nothing.
UNDER_FILE_PERMISSIONS=()
if [ "$(id -u)" -eq 0 ]; then
  UNDER_FILE_PERMISSIONS=(setpriv --bounding-set=-dac_override,-dac_read_search)
fi

with_file_permissions() {
  "${UNDER_FILE_PERMISSIONS[@]}" "$@"
}

start_wine_session() {
  local prefix=$1 use_display=${2:-} logs
  logs=$(dirname "$prefix")/wine-logs
  # Wine refuses a prefix that another user owns, such as one left by an earlier run as
  # another user: make a new one.
  if [ -e "$prefix" ] && [ ! -O "$prefix" ]; then
    rm -rf "$prefix" || { echo "cannot replace $prefix: another user owns it" >&2; return 1; }
  fi
  mkdir -p "$prefix" "$logs" || return 1
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

  # A small file system that fills up, for the tests of a full disk (root can mount it).
  SMALL_DISK=$(dirname "$prefix")/small-disk
  if [ "$(id -u)" -eq 0 ] && mkdir -p "$SMALL_DISK" &&
    mount -t tmpfs -o size=4m,mode=0777 updater-small-disk "$SMALL_DISK" 2>/dev/null; then
    export UPDATER_TEST_SMALL_DISK="Z:$SMALL_DISK"
  else
    SMALL_DISK=
  fi

  if [ "$use_display" != --use-display ]; then
    # Let Xvfb pick a free display and tell us which one.
    local displayfile=$logs/display
    rm -f "$displayfile"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfile" >"$logs/xvfb.log" 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do
      [ -s "$displayfile" ] && break
      sleep 0.1
    done
    [ -s "$displayfile" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$(head -n 1 "$displayfile")
  fi

  # A game folder that Wine may read but not write, as a folder without write rights on
  # Windows: Wine ignores the read-only attribute of folders, as Windows does.
  local readonly_game
  readonly_game=$(dirname "$prefix")/readonly-game
  chmod -R u+w "$readonly_game" 2>/dev/null || true
  rm -rf "$readonly_game"
  mkdir -p "$readonly_game"
  printf old >"$readonly_game/a.arc"
  printf '\0' >"$readonly_game/uninst.lst"
  chmod 0555 "$readonly_game"
  export UPDATER_TEST_READONLY_FOLDER="Z:$readonly_game"

  # Wine's output goes to files: its background processes would hold a pipe open.
  with_file_permissions wineserver -p >"$logs/wineserver.log" 2>&1 &
  with_file_permissions wine wineboot -i >"$logs/wineboot.log" 2>&1
  # No window manager: do not wait for one when windows close; crashes end at once.
  with_file_permissions wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    >>"$logs/wineboot.log" 2>&1
  with_file_permissions wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
    /t REG_DWORD /d 0 /f >>"$logs/wineboot.log" 2>&1
  set_up_fonts >>"$logs/wineboot.log" 2>&1
}

# The same fonts for the demo and the tests, so that a window in either looks as in the
# other. Wine finds IPAGothic (scripts/setup.sh installs it) through fontconfig, and MS UI
# Gothic, the Japanese dialog's font, becomes IPAGothic. That is all Japanese glyphs need:
# under a Japanese code page Wine draws message boxes and title bars in MS UI Gothic too, and
# under an English one it links Tahoma, Microsoft Sans Serif and Lucida Sans Unicode to
# whatever MS UI Gothic stands for. Entries of our own under FontLink\SystemLink would not
# last: Wine rewrites those faces' entries whenever the code page changes, as between an
# English and a Japanese run. The English dialog's font, Segoe UI, becomes Tahoma; Debian's
# Wine does not find its own Tahoma, so that too comes from the link: IPAGothic.
set_up_fonts() {
  local substitutes='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
  with_file_permissions wine reg add "$substitutes" /v 'MS UI Gothic' /d IPAGothic /f &&
    with_file_permissions wine reg add "$substitutes" /v 'Segoe UI' /d Tahoma /f
}

stop_wine_session() {
  if [ -n "${WINEPREFIX:-}" ]; then
    with_file_permissions wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -n "${SMALL_DISK:-}" ]; then
    umount "$SMALL_DISK" 2>/dev/null || true
    SMALL_DISK=
    unset UPDATER_TEST_SMALL_DISK
  fi
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
}
