#!/usr/bin/env bash
# Proves packaging/publish.sh as a maintainer uses it and as readers meet
# it. Two small releases of this commit, signed with a key made here,
# release N and N+1 (the version raised in clones), go to a host
# that nginx serves on 127.0.0.1 with packaging/nginx.conf, reached over SSH
# from an OpenSSH server started here. N is published; then readers poll
# without pause while N+1 is published over it through a slow link, and
# while the files N no longer uses are pruned: apt in a fresh Debian 12
# root (update --error-on=any, then install or upgrade), dnf and pacman in
# empty roots (an upgrade each pass, failing where a repository is
# unusable), always at N or N+1 and never an error; the installed app in
# chromium (tests/web/reader.js) and linkchecker over the home (every link
# resolves at every pass). Then
# publish.sh refuses, with the host unchanged to the byte: a changed byte,
# another key's signature, another key, an older release, the same release
# with other files; and the same release again changes nothing. Last,
# release.sh with a key refuses a changed tree, naming the file. What each
# printed is in build/release/publish/.
#
# usage: packaging/publish-checks.sh [--check]   (as root, for sshd;
# ./install-deps.sh ci installs what it needs)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
begin "$@"
if checking; then
    need nginx /usr/sbin/sshd ssh ssh-keygen rsync linkchecker curl mmdebstrap git gpg node dnf pacman pacman-key
    [ "$(id -u)" = 0 ] || lacks "publish-checks.sh starts an SSH server: run it as root"
    checked
fi
dir=$work/publish host=$work/publish/host stop=$work/publish/stop

# mmdebstrap's hook, in a fresh Debian 12 root: the readers, around the
# publishing of N+1 and the prune.
if [ "$mode" = in ]; then
    root=${fields[0]} url=${fields[1]} old=${fields[2]} new=${fields[3]}
    # Each package manager set up as its users are, from what is published,
    # with only the project's repository: apt in the Debian root, dnf and
    # pacman in empty roots of their own. A pass brings the newest release
    # and prints the version it has then.
    rm -f "$root/etc/apt/sources.list" "$root"/etc/apt/sources.list.d/*
    curl -fsS "${url}apt/pathloss.sources" >"$root/etc/apt/sources.list.d/pathloss.sources"
    apt() { chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get -q -y "$@"; }
    mkdir -p "$dir/dnf/repos" "$dir/pacman/root/var/lib/pacman"
    curl -fsS "${url}rpm/pathloss.repo" >"$dir/dnf/repos/pathloss.repo"
    dnf() {
        command dnf -y --refresh --installroot "$dir/dnf/root" --releasever 1 \
            --forcearch x86_64 --setopt=reposdir="$dir/dnf/repos" --setopt=skip_if_unavailable=False "$@"
    }
    curl -fsS "${url}pacman/pathloss-signing-key.asc" >"$dir/pacman/key.asc"
    curl -fsS "${url}pacman/pathloss-pacman.conf" >"$dir/pacman/lines"
    pacman_user "$dir/pacman" "$dir/pacman/key.asc" "$dir/pacman/lines" x86_64
    pacman() {
        command pacman --noconfirm --config "$dir/pacman/pacman.conf" --root "$dir/pacman/root" \
            --dbpath "$dir/pacman/root/var/lib/pacman" --cachedir "$dir/pacman/cache" --gpgdir "$dir/pacman/keyring" \
            --logfile "$dir/pacman/pacman.log" "$@"
    }
    pass() { # MANAGER
        case $1 in
        apt) apt update --error-on=any && apt install pathloss && chroot "$root" dpkg-query -W -f "\${Version}\n" pathloss ;;
        dnf) dnf install pathloss && dnf upgrade pathloss && rpm --root "$dir/dnf/root" -q --qf '%{VERSION}-%{RELEASE}\n' pathloss ;;
        pacman) pacman -Syu pathloss && pacman -Q pathloss | cut -d' ' -f2 ;;
        esac
    }
    managers=(apt dnf pacman)
    for manager in "${managers[@]}"; do
        pass "$manager" >"$dir/$manager.log" 2>&1 || fail "$manager: install from release $old"
    done

    rm -f "$stop"
    readers=()
    for manager in "${managers[@]}"; do
        (
            while [ ! -e "$stop" ]; do
                if pass "$manager" >"$dir/$manager-pass.log" 2>&1; then
                    tail -n 1 "$dir/$manager-pass.log"
                else
                    echo error
                    cat "$dir/$manager-pass.log" >>"$dir/$manager.log"
                fi
            done >"$dir/$manager-versions"
        ) &
        readers+=($!)
    done
    (
        while [ ! -e "$stop" ]; do
            linkchecker --no-status --no-warnings "$url" >>"$dir/linkchecker.log" 2>&1 && echo ok || echo error
        done >"$dir/link-passes"
    ) &
    readers+=($!)
    node tests/web/reader.js "${url}app/" "$stop" "$old" "$new" >"$dir/reader.log" 2>&1 &
    app_reader=$!
    sleep 10
    PATHLOSS_RSYNC_OPTIONS=--bwlimit=100 packaging/publish.sh "$dir/new/dist" "pathloss-host:$host" \
        >"$dir/publish-new.log" 2>&1 || fail "publish.sh: release $new over $old, see $dir/publish-new.log"
    sleep 10
    packaging/publish.sh --prune 0 "pathloss-host:$host" >"$dir/prune.log" 2>&1 ||
        fail "publish.sh --prune, see $dir/prune.log"
    grep -q 'deleted .*\.deb' "$dir/prune.log" || fail "publish.sh --prune left release $old's package"
    sleep 10
    touch "$stop"
    wait "${readers[@]}"
    wait $app_reader || fail "the app while publishing: $(grep -v '^reader:' "$dir/reader.log" | head -n 5)"
    for manager in "${managers[@]}"; do
        versions=$dir/$manager-versions
        echo "$manager: $(wc -l <"$versions") passes: $(sort "$versions" | uniq -c | tr -s ' \n' ' ')"
        ! grep -qvE "^($old|$new)-" "$versions" ||
            fail "$manager while publishing: $(sort -u "$versions" | tr '\n' ' '), see $dir/$manager.log"
        [[ $(tail -n 1 "$versions") == "$new-"* ]] || fail "$manager did not end on release $new"
    done
    echo "linkchecker: $(sort "$dir/link-passes" | uniq -c | tr -s ' \n' ' ')"
    grep '^reader:' "$dir/reader.log"
    ! grep -qi error "$dir/link-passes" || fail "linkchecker while publishing, see $dir/linkchecker.log"
    exit 0
fi

rm -rf "$dir"
mkdir -p "$dir/ssh" "$host"
port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
web_port=$(port) ssh_port=$(port)
url=http://127.0.0.1:$web_port/

# The host: nginx as HACKING gives it, and an SSH server that takes the key
# made for this run.
mkdir "$dir/nginx"
cat >"$dir/nginx/nginx.conf" <<EOF
daemon off;
pid $dir/nginx/pid;
error_log $dir/nginx/error.log;
$([ "$(id -u)" != 0 ] || echo "user root;")
events {}
http {
    include /etc/nginx/mime.types;
    access_log $dir/nginx/access.log;
    client_body_temp_path $dir/nginx/body;
    proxy_temp_path $dir/nginx/proxy;
    fastcgi_temp_path $dir/nginx/fastcgi;
    uwsgi_temp_path $dir/nginx/uwsgi;
    scgi_temp_path $dir/nginx/scgi;
    server {
        listen 127.0.0.1:$web_port;
        root $host;
        include $top/packaging/nginx.conf;
    }
}
EOF
nginx -p "$dir/nginx" -c "$dir/nginx/nginx.conf" &
at_exit "kill $!"
ssh-keygen -q -t ed25519 -N '' -f "$dir/ssh/host"
ssh-keygen -q -t ed25519 -N '' -f "$dir/ssh/id"
cp "$dir/ssh/id.pub" "$dir/ssh/authorized_keys"
echo "[127.0.0.1]:$ssh_port $(cat "$dir/ssh/host.pub")" >"$dir/ssh/known_hosts"
cat >"$dir/ssh/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $ssh_port
HostKey $dir/ssh/host
AuthorizedKeysFile $dir/ssh/authorized_keys
PidFile $dir/ssh/sshd.pid
UsePAM no
StrictModes no
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
EOF
cat >"$dir/ssh/config" <<EOF
Host pathloss-host
    HostName 127.0.0.1
    Port $ssh_port
    User $(id -un)
    IdentityFile $dir/ssh/id
    UserKnownHostsFile $dir/ssh/known_hosts
    StrictHostKeyChecking yes
    BatchMode yes
EOF
mkdir -p /run/sshd
/usr/sbin/sshd -D -e -f "$dir/ssh/sshd_config" 2>"$dir/ssh/sshd.log" &
at_exit "kill $!"
export RSYNC_RSH="ssh -F $dir/ssh/config"

# Releases N and N+1: this commit with the version raised.
GNUPGHOME=$dir/gnupg PATHLOSS_SIGNING_KEY=$(packaging/test-key.sh "$dir/gnupg" "pathloss publish checks")
export GNUPGHOME PATHLOSS_SIGNING_KEY
at_exit "gpgconf --homedir '$dir/gnupg' --kill gpg-agent"
# Each a clone of the one before, the version raised by one: the earlier
# releases a home links to are those after this commit's version.
raise_version() { # FROM NAME MINUTES_AGO: the clone, and its version
    local from=$1 was
    git clone -q "$from" "$dir/$2"
    cd "$dir/$2"
    was=$(sed -n 's/^project(pathloss VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    raised=${was%.*}.$((${was##*.} + 1))
    sed -i "s/^project(pathloss VERSION $was/project(pathloss VERSION $raised/" CMakeLists.txt
    sed -i "1s/($was-/($raised-/" packaging/debian/changelog
    sed -i "s/^Version: .*/Version: $raised/" packaging/pathloss.spec
    sed -i "s/^pkgver=.*/pkgver=$raised/" packaging/PKGBUILD
    sed -i "s/$was/$raised/g" README.md
    sed -i "0,/^\* /s//* Version $raised ($(date -u +%F))\n\n- A release for the publishing checks.\n\n&/" NEWS
    # A minute apart, in the past (a Release dated later is not valid yet).
    GIT_COMMITTER_DATE="$(($(date +%s) - 60 * $3)) +0000" \
        git -c user.name=checks -c user.email=checks@pathloss.invalid commit -q -am "Release $raised"
    cd "$top"
}
raise_version "$top" old 2
old=$raised
raise_version "$dir/old" new 1
new=$raised
# Each dated by its own commit, not by this one.
for release in old new; do
    echo "publish-checks: release ${!release}"
    (cd "$dir/$release" && env -u SOURCE_DATE_EPOCH PATHLOSS_HOME="$url" PROVE=no packaging/release.sh linux-x86_64 web) \
        >"$dir/release-$release.log" 2>&1 || {
        fail "release ${!release} for the publishing checks, see $dir/release-$release.log"
        finish
    }
done

until curl -so /dev/null "$url"; do sleep 0.2; done
packaging/publish.sh "$dir/old/dist" "pathloss-host:$host" >"$dir/publish-old.log" 2>&1 ||
    fail "publish.sh: release $old to a new host, see $dir/publish-old.log"

# The host's settings: text compressed, what changes in place revalidated,
# what never changes kept.
header() { # PATH HEADER: its value, as nginx serves PATH
    curl -fsS -H 'Accept-Encoding: gzip' -o /dev/null -D - "$url$1" | tr -d '\r' |
        sed -n "s/^$2: //Ip"
}
for path in "" app/sw.js apt/dists/stable/InRelease rpm/repodata/repomd.xml pacman/x86_64/pathloss.db; do
    [ "$(header "$path" Cache-Control)" = no-cache ] || fail "nginx.conf: /$path is kept, not asked for anew"
done
for path in "releases/$old/pathloss-$old-web.html" "$(cd "$host" && find apt/pool -name '*.deb' | head -n 1)" \
    "rpm/pathloss-$old-1.x86_64.rpm" "pacman/x86_64/pathloss-$old-1-x86_64.pkg.tar.zst"; do
    [[ $(header "$path" Cache-Control) == *immutable* ]] || fail "nginx.conf: /$path is not kept"
done
[ "$(header "" Content-Encoding)" = gzip ] || fail "nginx.conf: the home is not compressed"

echo "publish-checks: release $new over $old, read all through in a fresh Debian 12 root"
in_fresh_root bookworm -- "$url" "$old" "$new" >"$dir/root.log" 2>&1 ||
    fail "a Debian 12 root for the publishing checks, see $dir/root.log"
grep -E "^(apt|dnf|pacman|linkchecker|reader):" "$dir/root.log" || true

# Each refusal leaves the host as it was, to the byte.
snapshot() { (cd "$host" && find . -type f -print0 | sort -z | xargs -0 sha256sum); }
other_key "$dir/other"
resum() { # DIST: its sums made again, signed with PATHLOSS_SIGNING_KEY
    (cd "$1" && rm SHA256SUMS SHA256SUMS.asc && sha256sum -- * >"$dir/sums" && mv "$dir/sums" SHA256SUMS)
    sign "$1/SHA256SUMS" "$1/SHA256SUMS.asc"
}
variant() { # NAME: a copy of N+1's dist, changed by what follows
    rm -rf "$dir/${1:?}"
    cp -R "$dir/new/dist" "$dir/$1"
}
variant changed-byte
printf x | dd of="$dir/changed-byte/pathloss_$new-1~bpo12+1_amd64.deb" bs=1 seek=100 conv=notrunc status=none
variant other-signature
GNUPGHOME=$dir/other PATHLOSS_SIGNING_KEY=$other sign "$dir/other-signature/SHA256SUMS" \
    "$dir/other-signature/SHA256SUMS.asc"
variant other-key
GNUPGHOME=$dir/other PATHLOSS_SIGNING_KEY=$other public_key >"$dir/other-key/pathloss-signing-key.asc"
GNUPGHOME=$dir/other PATHLOSS_SIGNING_KEY=$other resum "$dir/other-key"
variant other-bytes
echo >>"$dir/other-bytes/BUILDINFO"
resum "$dir/other-bytes"
before=$(snapshot)
for case in changed-byte other-signature other-key old other-bytes; do
    given=$dir/$case
    [ "$case" != old ] || given=$dir/old/dist
    if PATHLOSS_SIGNING_KEY='' packaging/publish.sh "$given" "pathloss-host:$host" >"$dir/refuse-$case.log" 2>&1; then
        fail "publish.sh took $case"
    fi
    echo "publish-checks: $case: $(tail -n 1 "$dir/refuse-$case.log")"
    [ "$(snapshot)" = "$before" ] || fail "publish.sh changed the host while refusing $case"
done
packaging/publish.sh "$dir/new/dist" "pathloss-host:$host" >"$dir/again.log" 2>&1 ||
    fail "publish.sh: release $new again, see $dir/again.log"
[ "$(snapshot)" = "$before" ] || fail "publish.sh changed the host publishing release $new again"
! packaging/publish.sh --prune 24 "pathloss-host:$host" >"$dir/prune-early.log" 2>&1 ||
    fail "publish.sh --prune 24 pruned a release just published"

# A tree that is not its commit's, refused in seconds.
echo "// changed" >>"$dir/new/src/main.cpp"
started=$(date +%s)
! (cd "$dir/new" && PROVE=no packaging/release.sh linux-x86_64) >"$dir/dirty.log" 2>&1 ||
    fail "release.sh with a key signed a changed tree"
grep -q 'src/main.cpp' "$dir/dirty.log" || fail "release.sh did not name the changed file: $(tail -n 1 "$dir/dirty.log")"
echo "publish-checks: a changed tree, refused in $(($(date +%s) - started)) s: $(tail -n 1 "$dir/dirty.log")"
finish
