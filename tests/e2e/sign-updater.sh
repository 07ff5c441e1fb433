#!/usr/bin/env bash
# Signs an updater with a throw-away certificate, for the end-to-end tests, which start this
# through Wine's Z: drive. Wine cannot wait for a Linux process, so the exit code is left in
# <rc file>, written whole once everything is done.
# usage: sign-updater.sh <in.exe> <out.exe> <rc file>
set -uo pipefail
in=$1 out=$2 rc=$3
keys=$(mktemp -d)
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=throwaway -days 1 \
  -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null &&
  osslsigncode sign -certs "$keys/cert.pem" -key "$keys/key.pem" -in "$in" -out "$out" >/dev/null
echo $? > "$rc.tmp"
rm -rf "$keys"
mv "$rc.tmp" "$rc"
