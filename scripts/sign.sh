#!/usr/bin/env bash
# Signs a Windows program or installer in place (Authenticode, SHA-256) with
# osslsigncode:
#   DIGESTBOX_SIGN_P12        a PKCS#12 file with the code-signing certificate
#                             and its private key
#   DIGESTBOX_SIGN_PASS       its password (read from a pipe, never put on a
#                             command line where other users could see it)
#   DIGESTBOX_SIGN_TIMESTAMP  optional: an RFC 3161 timestamp server's URL, so
#                             that the signature outlives the certificate
set -euo pipefail
file=$1
: "${DIGESTBOX_SIGN_P12:?}" "${DIGESTBOX_SIGN_PASS:?}"
timestamp=()
[ -n "${DIGESTBOX_SIGN_TIMESTAMP:-}" ] && timestamp=(-ts "$DIGESTBOX_SIGN_TIMESTAMP")
osslsigncode sign -pkcs12 "$DIGESTBOX_SIGN_P12" \
  -readpass <(printf '%s' "$DIGESTBOX_SIGN_PASS") -h sha256 \
  -n digestbox "${timestamp[@]}" \
  -in "$file" -out "$file.signed" >/dev/null
mv "$file.signed" "$file"
