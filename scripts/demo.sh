#!/usr/bin/env bash
# The demo: builds everything, makes a sample game installation and an update for it with
# upkg, records the game in the registry of the demo's Wine prefix, and runs the update.
# With a display it opens there for you to click; without one (or with --headless) it runs
# on a private Xvfb display, answers through the driver in English and in Japanese, and
# saves screenshots of the question, the progress dialog and the outcome.
#   bash scripts/demo.sh [--headless]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
headless=0
if [ "${1:-}" = --headless ] || [ -z "${DISPLAY:-}" ]; then headless=1; fi

bash scripts/setup.sh
echo "=== building"
mkdir -p build
{ cmake --preset host && cmake --build --preset host --target upkg &&
  cmake --preset windows && cmake --build --preset windows --target updater demo_driver; } \
  >build/demo-build.log 2>&1 || { tail -n 30 build/demo-build.log; exit 1; }
upkg=$root/build/host/upkg

demo=$root/build/demo
prefix=$demo/wineprefix
mkdir -p "$demo"
# shellcheck source=scripts/wine-session.sh
source scripts/wine-session.sh
if [ $headless -eq 1 ]; then start_wine_session "$prefix"; else start_wine_session "$prefix" --use-display; fi
trap stop_wine_session EXIT
reg() { with_file_permissions wine reg add "$@" /f >>"$demo/wine.log" 2>&1; }

# The session has set up the fonts, as for the tests (set_up_fonts in scripts/wine-session.sh).
reg 'HKLM\Software\NORTHELM\Lumenfall' /v InstalledFolder /d 'C:\Games\Lumenfall'

game=$prefix/drive_c/Games/Lumenfall
source_dir=$demo/update-source
update=$prefix/drive_c/update.exe

# Little-endian bytes of a 32-bit number, and bytes from hex digits, for printf.
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24)); }
hex_bytes() { sed 's/../\\x&/g' <<<"$1"; }

# The installed game: three archives, the game, its hash list (version 2) and uninstall list.
make_game() {
  rm -rf "$game"
  mkdir -p "$game/Archive"
  for n in 01000 01020 01040; do head -c 200000 /dev/urandom >"$game/Archive/data$n.arc"; done
  printf 'game' >"$game/game.exe"
  local files=(Archive/data01000.arc Archive/data01020.arc Archive/data01040.arc game.exe)
  {
    printf 'ZHV_V2__\0\0\0\0'
    printf "$(le32 ${#files[@]})"
    for f in "${files[@]}"; do
      local path=${f//\//\\}
      printf '%s' "$path"
      head -c $((248 - ${#path})) /dev/zero
      printf "$(hex_bytes "$("$upkg" checksum "$game/$f" | cut -c1-16)")"
    done
  } >"$game/zol.hvl"
  printf 'Game.exe\r\nArchive\\data01000.arc\r\nArchive\\data01020.arc\r\nArchive\\data01040.arc\r\n$Registry\r\n' \
    >"$game/uninst.lst"
}

# The update: two changed archives, a large one among them, and a new one.
rm -rf "$source_dir"
mkdir -p "$source_dir/Archive"
head -c 400000 /dev/urandom >"$source_dir/Archive/data01000.arc"
head -c $((96 * 1024 * 1024)) /dev/urandom >"$source_dir/Archive/data01020.arc"
head -c 300000 /dev/urandom >"$source_dir/Archive/data01060.arc"
"$upkg" build --quiet --stub build/windows/updater.exe --title "「Lumenfall」 Updater ver 1.02" \
  -o "$update" "$source_dir"
echo "=== the update program"
"$upkg" list "$update"

show_result() {
  echo "exit code: $1"
  echo "installation folder C:\\Games\\Lumenfall:"
  (cd "$game" && find . -type f | sort | sed 's|^\./||' | xargs "$upkg" checksum)
  echo "uninst.lst:"
  tr '\0' '~' <"$game/uninst.lst" | sed 's/^/  /'
  echo
}

if [ $headless -eq 0 ]; then
  make_game
  echo "=== running the update on $DISPLAY: answer its question"
  set +e
  with_file_permissions wine 'C:\update.exe' >>"$demo/wine.log" 2>&1
  code=$?
  set -e
  show_result $code
  exit 0
fi

shots=$demo/screenshots
mkdir -p "$shots"
signals=$demo/signals
for language in en ja; do
  make_game
  rm -rf "$signals"
  mkdir -p "$signals"
  echo "=== running the update ($language)"
  locale=C.UTF-8
  if [ $language = ja ]; then locale=ja_JP.UTF-8; fi
  LC_ALL=$locale with_file_permissions wine build/windows/tests/e2e/demo_driver.exe \
    'C:\update.exe' "Z:$signals" 'C:\Games\Lumenfall' >>"$demo/wine.log" 2>&1 &
  driver=$!
  # The driver stops at each step until its screenshot is taken.
  while kill -0 $driver 2>/dev/null; do
    for ready in "$signals"/*.ready; do
      [ -e "$ready" ] || continue
      stop=$(basename "$ready" .ready)
      sleep 0.3
      import -window root -display "$DISPLAY" "$shots/$language-$stop-full.png"
      convert "$shots/$language-$stop-full.png" -trim +repage "$shots/$language-$stop.png"
      rm -f "$shots/$language-$stop-full.png" "$ready"
      touch "$signals/$stop.done"
      echo "screenshot: $shots/$language-$stop.png"
    done
    sleep 0.1
  done
  set +e
  wait $driver
  code=$?
  set -e
  show_result $code
done
