#!/usr/bin/env bash
# Puts a signed release on the project's host, so that a reader, whenever
# it reads, finds one whole release, the old or the new:
#   packaging/publish.sh DIST DEST
# DEST is a folder, or [USER@]HOST:PATH reached by rsync over SSH (ssh's
# own settings apply; RSYNC_RSH picks another command). Before a byte of
# DEST changes it checks that every file of DIST is the one its SHA256SUMS
# lists, signed by the release's key; that this key is the one published
# there before; and that the release is newer, and made later, than the
# published one (the same release again does nothing). Then it copies:
#   - first, every file that DIST's PUBLISH does not name in a later step:
#     the release's own files under their version, new and never changed,
#     and each archive unpacked at its place;
#   - then each later step of PUBLISH in turn: the few files that point at
#     the rest (an index's signature, an app's worker, the front page);
#   - last, DEST/published, which names what this release uses.
# Each file arrives whole, under a temporary name first. Nothing is
# deleted; that is a later, separate step:
#   packaging/publish.sh --prune HOURS DEST
# deletes what the published release does not use, once it has been there
# HOURS hours, so that a reader that began before it still finds what it
# asks for. Earlier releases' files stay for good.
# PATHLOSS_SIGNING_KEY, where set, must be the release's key. For a slow
# link, PATHLOSS_RSYNC_OPTIONS adds to rsync's (--bwlimit=KBPS).
set -euo pipefail
export LC_ALL=C
usage="usage: $0 DIST DEST, or $0 --prune HOURS DEST"
[ $# -eq 2 ] || { [ $# -eq 3 ] && [ "$1" = --prune ]; } || {
    echo "$usage" >&2
    exit 2
}
here=$(mktemp -d)
trap 'rm -rf "$here"' EXIT
refuse() {
    echo "publish: $*; nothing was published" >&2
    exit 1
}
# By content: two releases made within a second date their files alike, and
# a file of the same size and time is not always the same file.
# shellcheck disable=SC2086 # the options are words
copy() { rsync -rtc --chmod=D755,F644 ${PATHLOSS_RSYNC_OPTIONS:-} "$@"; }
# What is published at DEST: its record, or nothing at a new host.
published() { # DEST
    copy -q "$1/published" "$here/" 2>/dev/null && return 0
    copy -q --list-only "$1/" >/dev/null 2>&1 || [[ $1 != *:* && ! -e $1 ]] || refuse "cannot reach $1"
    return 1
}
field() { sed -n "s/^$1 //p" "$2"; }

if [ "$1" = --prune ]; then
    hours=$2 dest=${3%/}
    [[ $hours =~ ^[0-9]+$ ]] || refuse "HOURS must be a number of hours, not '$hours'"
    published "$dest" || refuse "nothing is published at $dest"
    age=$(($(date +%s) - $(field at "$here/published")))
    [ "$age" -ge $((hours * 3600)) ] ||
        refuse "the release there is $((age / 3600)) hours old, not $hours; prune it later"
    # The files in use, as empty files: rsync deletes what is not among
    # them, and copies nothing.
    mkdir "$here/keep"
    (cd "$here/keep" && field file ../published | while read -r path; do
        mkdir -p "$(dirname "$path")" && touch "$path"
    done && touch published)
    releases=$(dirname "$(field files "$here/published")")
    copy --delete --existing --ignore-existing --exclude="/$releases/" -i "$here/keep/" "$dest/" |
        sed -n 's/^\*deleting */publish: deleted /p'
    exit 0
fi

dist=${1%/} dest=${2%/}
{ [ -f "$dist/PUBLISH" ] && [ -f "$dist/SHA256SUMS.asc" ]; } ||
    refuse "$dist is no signed release: it has no PUBLISH or no SHA256SUMS.asc"

# Every file is the one the sums list, and no other is there.
(cd "$dist" && sha256sum --quiet --strict -c SHA256SUMS) >&2 || refuse "$dist differs from its SHA256SUMS"
extra=$(cd "$dist" && printf '%s\n' * | grep -vxF -e SHA256SUMS -e SHA256SUMS.asc -f <(cut -c67- SHA256SUMS)) || true
[ -z "$extra" ] || refuse "$dist has files its SHA256SUMS does not list: $extra"
key() { gpg --batch --with-colons --show-keys "$1" 2>/dev/null | awk -F: '$1 == "fpr" { print $10; exit }'; }
fingerprint=$(key "$dist/pathloss-signing-key.asc")
[ -n "$fingerprint" ] || refuse "$dist has no pathloss-signing-key.asc"
gpg --batch --dearmor <"$dist/pathloss-signing-key.asc" >"$here/key.gpg"
gpgv --keyring "$here/key.gpg" "$dist/SHA256SUMS.asc" "$dist/SHA256SUMS" 2>"$here/gpgv.log" ||
    refuse "SHA256SUMS.asc is not a signature of SHA256SUMS by $dist's key $fingerprint: $(grep -v '^gpgv: ' "$here/gpgv.log" || tail -n 1 "$here/gpgv.log")"
[ -z "${PATHLOSS_SIGNING_KEY:-}" ] || [ "$fingerprint" = "$PATHLOSS_SIGNING_KEY" ] ||
    refuse "$dist is signed by $fingerprint, not by PATHLOSS_SIGNING_KEY $PATHLOSS_SIGNING_KEY"
version=$(field version "$dist/PUBLISH") files=$(field files "$dist/PUBLISH")

if published "$dest"; then
    old=$(field version "$here/published") old_files=$(field files "$here/published")
    copy -q "$dest/$old_files/pathloss-signing-key.asc" "$dest/$old_files/SHA256SUMS" "$here/" ||
        refuse "$dest/$old_files has no key or no SHA256SUMS"
    [ "$(key "$here/pathloss-signing-key.asc")" = "$fingerprint" ] ||
        refuse "$dist is signed by $fingerprint, and $dest by $(key "$here/pathloss-signing-key.asc"): a new key is for a person to publish, with its fingerprint"
    if [ "$old" = "$version" ]; then
        cmp -s "$here/SHA256SUMS" "$dist/SHA256SUMS" ||
            refuse "$version is at $dest already, with other files"
        echo "publish: $version is at $dest already, the same files"
        exit 0
    fi
    [ "$(printf '%s\n' "$old" "$version" | sort -V | tail -n 1)" = "$version" ] ||
        refuse "$dest has $old, newer than $version"
    # Files keep their release's date, by which hosts and caches tell a
    # changed file: one of the same size and date would be taken for the old.
    [ "$(field date "$dist/PUBLISH")" -gt "$(field date "$here/published")" ] ||
        refuse "$version is dated no later than $old, so caches would keep $old's files"
    echo "publish: $version over $old at $dest, key $fingerprint"
else
    echo "publish: $version at $dest, which had no release, key $fingerprint: check that it is yours"
fi

# The host's tree as this release has it.
stage=$here/stage
mkdir -p "$stage/$files"
cp -p "$dist"/* "$stage/$files/"
later=()
while read -r what first rest; do
    case $what in
    unpack)
        mkdir -p "$here/unpack" "$stage/$rest"
        tar -C "$here/unpack" -xzf "$dist/$first"
        cp -pR "$here/unpack/${first%.tar.gz}/." "$stage/$rest/"
        rm -rf "$here/unpack"
        ;;
    then) later+=("$first${rest:+ $rest}") ;;
    esac
done <"$dist/PUBLISH"
{
    echo "version $version"
    echo "date $(field date "$dist/PUBLISH")"
    echo "files $files"
    echo "at $(date +%s)"
    (cd "$stage" && find . -type f | sed 's|^\./|file |' | sort)
} >"$here/published"

# The new and the unchanged first, then each later step, then the record.
excludes=()
for step in "${later[@]}"; do
    for path in $step; do excludes+=("--exclude=/$path"); done
done
[[ $dest == *:* ]] || mkdir -p "$dest"
copy --delay-updates "${excludes[@]}" "$stage/" "$dest/"
for step in "${later[@]}"; do
    # shellcheck disable=SC2086 # the step's paths are patterns
    (cd "$stage" && printf '%s\n' $step) >"$here/step"
    copy --delay-updates --files-from="$here/step" "$stage/" "$dest/"
done
copy "$here/published" "$dest/"
echo "publish: $version is published at $dest; after a day, packaging/publish.sh --prune 24 $dest"
