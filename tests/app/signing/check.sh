#!/usr/bin/env bash
# The build's signing step: certificates made here, given to the configure step in both
# forms it takes (certificate and key; PKCS#12 with a password file), sign what the build
# links; the signature verifies with a SHA-256 digest against that certificate and no
# other; half a configuration stops the configure step.
#   check.sh <source folder> <work folder>
set -euo pipefail
top=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
cd "$work"
fail() { echo "signing: $*" >&2; exit 1; }

certificate() { # certificate <name> <subject>: <name>.pem and <name>-key.pem, for two days
  openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -subj "/CN=$2" \
    -keyout "$1-key.pem" -out "$1.pem" 2>/dev/null
}
certificate test "Installer signing test"
certificate other "Someone else"
printf 'a pass phrase\n' > password.txt
openssl pkcs12 -export -in test.pem -inkey test-key.pem -out test.p12 -passout file:password.txt

build() { # build <tree> <configure options...>; the log is <tree>.log
  local tree=$1
  shift
  cmake -S "$top/tests/app/signing" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-i686.cmake" "$@" >"$tree.log" 2>&1 &&
    cmake --build "$tree" >>"$tree.log" 2>&1
}

for form in pem p12; do
  if [ $form = pem ]; then
    options=(-DQX_SIGN_CERT="$PWD/test.pem" -DQX_SIGN_KEY="$PWD/test-key.pem")
  else
    options=(-DQX_SIGN_PKCS12="$PWD/test.p12" -DQX_SIGN_PASSWORD_FILE="$PWD/password.txt")
  fi
  build $form "${options[@]}" || { cat $form.log; fail "$form: the signed build failed"; }
  report=$(osslsigncode verify -CAfile test.pem -in $form/probe.exe 2>&1) ||
    { echo "$report"; fail "$form: the signature does not verify"; }
  grep -q 'Message digest algorithm  : SHA256' <<<"$report" || { echo "$report"; fail "$form: not SHA-256"; }
  if osslsigncode verify -CAfile other.pem -in $form/probe.exe >/dev/null 2>&1; then
    fail "$form: verifies against a certificate that did not sign it"
  fi
done

if build half -DQX_SIGN_CERT="$PWD/test.pem"; then
  fail "a certificate without its key was taken, and the build is unsigned"
fi
grep -q 'QX_SIGN_CERT and QX_SIGN_KEY go together' half.log || { cat half.log; fail "half a configuration: no reason given"; }
echo "signing: both forms signed and verified against the test certificate only"
