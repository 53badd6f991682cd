#!/usr/bin/env bash
# Makes a signing key to throw away after a test, in a new GnuPG home DIR,
# and prints its fingerprint: Ed25519 as a maintainer's (HACKING.md,
# Signing), with no passphrase, and dated well before any commit, as no
# signature may predate its key.
#
# usage: packaging/test-key.sh DIR [NAME]
set -euo pipefail
export GNUPGHOME=$1
rm -rf "$GNUPGHOME"
mkdir -m 700 "$GNUPGHOME"
gpg --batch --quiet --faked-system-time '20200101T000000!' --passphrase '' \
    --quick-generate-key "${2:-pathloss test key} <test@pathloss.invalid>" ed25519 sign never 2>/dev/null
gpg --batch --with-colons --list-secret-keys 2>/dev/null | awk -F: '$1 == "fpr" { print $10; exit }'
