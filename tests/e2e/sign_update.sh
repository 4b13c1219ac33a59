#!/usr/bin/env bash
# Signs as a publisher does, after building: a key and a self-signed certificate made for
# this run, an update program built by upkg.exe and signed with osslsigncode, and the
# updater signed too (which build must refuse as a stub). Writes BUILD/signed/.
set -euo pipefail
build=$(cd "$1" && pwd)
out=$build/signed
rm -rf "$out"
mkdir -p "$out/src/Archive"
printf 'signed data' >"$out/src/Archive/data01000.arc"
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Test Publisher" -days 2 \
  -keyout "$out/key.pem" -out "$out/cert.pem" 2>/dev/null
# Wine takes an absolute Unix path on the current drive, which is the root here.
"$(dirname "$0")/../../scripts/wine-run.sh" "$build/upkg.exe" build -q \
  --stub "$build/updater.exe" --title "Lumenfall 1.02" -o "$out/unsigned.exe" "$out/src"
sign() {
  osslsigncode sign -certs "$out/cert.pem" -key "$out/key.pem" -n "Lumenfall" -in "$1" -out "$2"
}
sign "$out/unsigned.exe" "$out/update.exe"
sign "$build/updater.exe" "$out/updater.exe"
