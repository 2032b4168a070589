#!/usr/bin/env bash
# Certificates and signed packages for the tests of who the installer trusts, made once
# per build folder with openssl and osslsigncode (no private key lives in the sources):
#   make-signing.sh <out dir> <payload.exe> <CONFIG.JSON of the loopback branding>
# Writes into <out dir>:
#   listed.crt/.key, unlisted.crt/.key   self-signed code-signing certificates
#   signed-listed.exe, signed-unlisted.exe  the payload signed by each
#   CONFIG.JSON     the branding document pinning "listed" in "packageSigners"
#   ca.crt/.der/.key, server.crt/.key     a test CA and nginx's certificate for 127.0.0.1
# Existing certificates are kept, so the pinned installer stays valid across builds;
# the payload is signed again whenever this runs.
set -euo pipefail
out=$1 payload=$(realpath "$2") config=$(realpath "$3")
mkdir -p "$out"
cd "$out"
export LC_ALL=C

selfsigned() { # selfsigned <name> <subject>
  [ -s "$1.crt" ] && return 0
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout "$1.key" -out "$1.crt" \
    -subj "$2" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
}
selfsigned listed "/CN=Vantor Test Publisher"
selfsigned unlisted "/CN=Someone Else"

if [ ! -s server.crt ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout ca.key -out ca.crt \
    -subj "/CN=Installer Test CA" -addext "basicConstraints=critical,CA:true" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=127.0.0.1" 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1,DNS:127.0.0.1\nextendedKeyUsage=serverAuth\n' > server.ext
  openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -sha256 -days 3650 \
    -extfile server.ext -out server.crt 2>/dev/null
  rm -f server.csr server.ext
fi
openssl x509 -in ca.crt -outform DER -out ca.der

for who in listed unlisted; do
  rm -f "signed-$who.exe"
  osslsigncode sign -certs "$who.crt" -key "$who.key" -h sha256 -in "$payload" -out "signed-$who.exe" >/dev/null
done

# The fingerprint exactly as a publisher gets it (see the README's branding section).
fingerprint=$(openssl x509 -in listed.crt -noout -fingerprint -sha256 | sed 's/.*=//; s/://g')
sed "1a\\    \"packageSigners\": [\"$fingerprint\"]," "$config" > CONFIG.JSON
