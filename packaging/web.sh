#!/usr/bin/env bash
# Builds dist/pathloss-VERSION-web.html, one page with everything inside, for
# computers; and dist/pathloss-VERSION-site.tar.gz, the same page as an app
# to install from a web address, in a folder for any static host: with its
# manifest, icons and the worker that keeps them offline. Then proves both
# in chromium, firefox and WebKit (tests/web/browser.js): from disk, from a
# server, and the app with the server stopped; WebKit wants an X display.
#
# usage: packaging/web.sh [--check|--order] NAME   (the interface:
# packaging/lib.sh; NAME is the row's, unused)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
# The worker last: a browser that sees a new one fills its new store with
# whatever the host serves then, which must already be the new release.
publish_order() {
    echo "unpack $source-site.tar.gz $app_place"
    echo "then $app_place/sw.js"
}
begin "$@"
if checking; then
    need_build emscripten
    need rsvg-convert tar gzip
    ! proving || need node tests/web/node_modules/.bin/playwright-core chromium firefox-esr WebKitWebDriver xvfb-run
    checked
fi
dir=$work/web
page=pathloss-$version-web.html
site=pathloss-$version-site

build emscripten "$dir"
cmake --build "$dir" --target site >>"$dir.log"
cp "$dir/pathloss.html" "dist/$page"
mkdir "$dir/stage" "$dir/unpacked"
cp -R "$dir/site" "$dir/stage/$site"
pack "$dir/stage" "$site" "dist/$site.tar.gz"

tar -C "$dir/unpacked" -xzf "dist/$site.tar.gz"
holds "$site.tar.gz" "$dir/unpacked" "$site/index.html" "$site/manifest.webmanifest" "$site/sw.js" \
    "$site/icon-192.png" "$site/icon-512.png" "$site/icon-maskable.png" "$site/apple-touch-icon.png"
! proving ||
    xvfb-run -a -s "-screen 0 1280x1024x24" node tests/web/browser.js "dist/$page" tests/transcripts \
        --site "$dir/unpacked/$site" || fail "$page, $site.tar.gz: in the browsers"
finish
