#!/usr/bin/env bash
# The publisher's side of the signed self-update (needs the openssl program).
#
#   scripts/sign-update.sh keygen KEYFILE
#       Makes a new Ed25519 key pair. The private key goes to KEYFILE, readable by its owner only:
#       keep it off the web server and out of the repository. Prints the public key, the value to
#       build with: cmake -DTOVREL_UPDATE_PUBLIC_KEY=<printed value> ...
#   scripts/sign-update.sh pubkey KEYFILE
#       Prints the public key of KEYFILE again.
#   scripts/sign-update.sh sign KEYFILE EXECUTABLE VERSION [OUTPUT]
#       Writes the signature file of EXECUTABLE for VERSION (by default EXECUTABLE.sig). Publish the
#       two as /Tovrel and /Tovrel.sig (/Tovrel.exe and /Tovrel.exe.sig for Windows) on the server,
#       then set LatestVersion=VERSION in service.ini. The executable's file name is signed: sign the
#       file under the name it is published as.
set -euo pipefail

die() {
    echo "sign-update.sh: $*" >&2
    exit 2
}

command -v openssl >/dev/null || die "the openssl program is needed (apt-get install openssl)"

pubkey() {
    # The raw 32 bytes are the last 32 of the key's DER form.
    openssl pkey -in "$1" -pubout -outform DER | tail -c 32 | base64 -w0
    echo
}

case "${1:-}" in
keygen)
    [ $# -eq 2 ] || die "usage: sign-update.sh keygen KEYFILE"
    [ -e "$2" ] && die "$2 exists already; a new key would lock out every installed copy built with the old one"
    (umask 077 && openssl genpkey -algorithm ed25519 -out "$2")
    pubkey "$2"
    ;;
pubkey)
    [ $# -eq 2 ] || die "usage: sign-update.sh pubkey KEYFILE"
    pubkey "$2"
    ;;
sign)
    [ $# -eq 4 ] || [ $# -eq 5 ] || die "usage: sign-update.sh sign KEYFILE EXECUTABLE VERSION [OUTPUT]"
    key=$2 executable=$3 version=$4 output=${5:-$3.sig}
    [ -f "$executable" ] || die "$executable is no file"
    [[ "$version" =~ ^[0-9]{1,5}(\.[0-9]{1,5}){0,3}$ ]] || die "$version is no version (digits and dots, as 1.0.0.2)"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    {
        printf 'Tovrel update signature 1\n'
        printf 'file %s\n' "$(basename "$executable")"
        printf 'version %s\n' "$version"
        printf 'length %s\n' "$(stat -c %s "$executable")"
        printf 'sha256 %s\n' "$(sha256sum "$executable" | cut -d' ' -f1)"
    } >"$work/manifest"
    openssl pkeyutl -sign -inkey "$key" -rawin -in "$work/manifest" -out "$work/signature"
    {
        cat "$work/manifest"
        printf 'signature %s\n' "$(base64 -w0 "$work/signature")"
    } >"$output"
    echo "$output"
    ;;
*)
    die "usage: sign-update.sh keygen KEYFILE | pubkey KEYFILE | sign KEYFILE EXECUTABLE VERSION [OUTPUT]"
    ;;
esac
