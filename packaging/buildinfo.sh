#!/usr/bin/env bash
# Prints what shaped the release's bytes: the system, and the versions of
# the compilers, linkers, C libraries, packers, the icons' renderer and the
# signer that the release uses. Those are taken from the packages that
# `./install-deps.sh release` names and everything they depend on, as
# installed, so that a package installed beside them for other work (another
# cross compiler, say) changes nothing here. The same commit built with
# these gives the same bytes; other versions may well not.
#
# usage: packaging/buildinfo.sh   (from packaging/sums.sh)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
environment

shapers='binutils|cpp|gcc|g\+\+|lib(c6|gcc-[0-9]+|stdc\+\+-[0-9]+)-dev|linux-libc-dev|mingw-w64'
shapers+='|emscripten|binaryen|clang-[0-9]+|lld-[0-9]+|libllvm[0-9]+|nodejs|node-acorn'
shapers+='|cmake|libarchive[0-9]+|dpkg|dpkg-dev|debhelper|dwz|libfile-stripnondeterminism-perl|zip|gzip|tar'
shapers+='|librsvg2|libcairo2|libpixman|libpng16|gpg|libgcrypt20|apt-utils|libapt-pkg[0-9.]+|xz-utils|liblzma5'

echo "pathloss $version, made by packaging/release.sh"
echo "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
echo "system: $(os_release PRETTY_NAME), $(dpkg --print-architecture)"
echo "packages:"
# Each installed package, as dpkg names it (NAME, or NAME:ARCH where it may
# be installed for several), with its version, what it provides and what it
# needs. The essential ones (tar, gzip, dpkg) are needed by all, unnamed.
# A dependency is met by the first of its alternatives that is installed:
# the package of that name for the same architecture, or for any, or else
# every package that provides the name.
dpkg-query -W -f '${db:Status-Abbrev}\t${binary:Package}\t${Architecture}\t${Version}\t${Essential}\t${Provides}\t${Pre-Depends}, ${Depends}\n' |
    awk -F '\t' -v wanted="$(./install-deps.sh --list release)" -v native="$(dpkg --print-architecture)" '
    function bare(dep) { sub(/^ +/, "", dep); sub(/[ (].*/, "", dep); sub(/:(any|native)$/, "", dep); return dep }
    function meet(dep, arch,    name, k, other) {
        name = bare(dep)
        if (name ~ /:/) return (name in version) ? name : ""
        if (arch == "all") arch = native
        if ((name ":" arch) in version) return name ":" arch
        if (name in version) return name
        for (k in version) if (index(k, name ":") == 1 && (other == "" || k < other)) other = k
        return other != "" ? other : provided[name]
    }
    $1 ~ /^.i/ {
        version[$2] = $4
        arch[$2] = $3
        needs[$2] = $7
        if ($5 == "yes") essential[$2] = 1
        n = split($6, p, ",")
        for (i = 1; i <= n; i++) if (bare(p[i]) != "") provided[bare(p[i])] = provided[bare(p[i])] " " $2
    }
    END {
        n = split(wanted, queue, " ")
        for (i = 1; i <= n; i++) {
            split(queue[i], part, ":")
            queue[i] = meet(part[1], part[2] == "" ? native : part[2])
        }
        for (k in essential) queue[++n] = k
        for (i = 1; i <= n; i++) {
            if (queue[i] in seen || !(queue[i] in version)) continue
            seen[queue[i]] = 1
            groups = split(needs[queue[i]], group, ",")
            for (g = 1; g <= groups; g++) {
                alternatives = split(group[g], alternative, "|")
                for (a = 1; a <= alternatives; a++)
                    if ((met = meet(alternative[a], arch[queue[i]])) != "") break
                m = split(met, each, " ")
                for (e = 1; e <= m; e++) queue[++n] = each[e]
            }
        }
        for (k in seen) print k, version[k]
    }' |
    grep -E "^(($shapers)(-[0-9]+)?(-[^ :]+)?|libc6|zlib1g)[ :]" | sort | sed 's/^/  /'
