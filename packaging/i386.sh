#!/bin/sh
# Some kernels run no 32-bit x86 program at all (many cloud machines' and
# hardened ones, built without IA32 emulation). There the release runs its
# 32-bit Linux programs under qemu-i386 by itself, but 32-bit wine starts
# programs of its own and needs the kernel to run them: this has binfmt_misc
# hand every such program to qemu-i386, as root, until the next boot.
#
# usage: packaging/i386.sh           (as root: sudo packaging/i386.sh)
#        packaging/i386.sh --check   (only tells, by its status, whether
#                                    this machine runs them)
set -eu
# The 32-bit x86 C library's loader, which the release needs anyway, is a
# 32-bit x86 program that runs by itself.
loader=/lib/ld-linux.so.2
[ -e "$loader" ] || {
    echo "i386: no 32-bit x86 C library to try ($loader; ./install-deps.sh release installs it)" >&2
    exit 2
}
runs() { "$loader" --version >/dev/null 2>&1; }
runs && exit 0
[ "${1:-}" != --check ] || exit 1

[ "$(id -u)" -eq 0 ] || {
    echo "i386: this kernel runs no 32-bit x86 program; as root, packaging/i386.sh has qemu-i386 run them" >&2
    exit 1
}
command -v qemu-i386 >/dev/null || {
    echo "i386: qemu-i386 is missing (./install-deps.sh release installs it)" >&2
    exit 1
}
misc=/proc/sys/fs/binfmt_misc
mountpoint -q $misc || mount -t binfmt_misc binfmt_misc $misc
# An entry that is there and does not serve (its qemu-i386 made for another
# root, say) makes way.
[ ! -e $misc/i386 ] || echo -1 >$misc/i386
# An ELF file of class 32-bit, little-endian, for machine 3 (i386), of
# either type; F opens qemu-i386 now, so that it serves in chroots too.
printf '%s' ':i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00' \
    ':\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff' \
    ":$(command -v qemu-i386):F" >$misc/register
runs || {
    echo "i386: qemu-i386 is registered, yet 32-bit x86 programs still do not run" >&2
    exit 1
}
echo "i386: this kernel runs no 32-bit x86 program; qemu-i386 now does, through binfmt_misc"
