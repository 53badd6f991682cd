#!/usr/bin/env bash
# Makes dist/pathloss-VERSION-home.tar.gz, the project's home for the host
# at PATHLOSS_HOME (packaging/home.py writes its pages): what pathloss is,
# the way to the app, the README's downloads with each file's size, SHA-256
# and signature, the key's fingerprint, the apt sources, NEWS, and a page
# that lists every file of the release. It is made with the key, after
# every other kind but the sums, whose files it names without a digest.
# Then proves the pages in chromium, firefox and WebKit
# (tests/web/home.js): their layout at a phone's width and a desktop's,
# what a screen reader depends on, their policy, and a silent console.
#
# usage: packaging/home.sh [--check|--order]   (the interface: packaging/lib.sh)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
# The front page last: it names the release's files, which must be there.
publish_order() {
    echo "unpack $source-home.tar.gz ."
    echo "then index.html"
}
begin "$@"
if checking; then
    only_signing ", whose fingerprint it gives"
    need python3 tar gzip
    need_key
    need_home
    ! proving || need node tests/web/node_modules/.bin/playwright-core chromium firefox-esr WebKitWebDriver xvfb-run
    checked
fi
dir=$work/home
home=$source-home
# What sums.sh makes after the home, and the home's own tarball.
later=("$home.tar.gz" BUILDINFO SHA256SUMS SHA256SUMS.asc pathloss-signing-key.asc)

rm -rf "$dir"
mkdir -p "$dir/$home"
python3 packaging/home.py "$dir/$home" dist "$version" "$(fingerprint)" "$(home_address)" "${later[@]}"
cp web/icon.svg "$dir/$home/"
chmod -R u=rwX,go=rX "$dir/$home"
pack "$dir" "$home" "dist/$home.tar.gz"
proving || finish

# As the host has it, with the release's files beside the pages.
mkdir "$dir/unpacked"
tar -C "$dir/unpacked" -xzf "dist/$home.tar.gz"
cp dist/* "$dir/unpacked/$home/$(files_place)/"
xvfb-run -a -s "-screen 0 1280x1024x24" node tests/web/home.js "$dir/unpacked/$home" ||
    fail "$home.tar.gz: in the browsers"
finish
