# Sourced by the Wine scripts. Sets:
#   VELMORA_32BIT        how this machine runs 32-bit x86 code: native, emulated
#                        (QEMU's user-mode emulator, registered through binfmt_misc)
#                        or none
#   VELMORA_32BIT_HOW    that case in words, for the scripts' one-line reports
#   VELMORA_RUNS_32BIT   yes or no
#   WINE                 the command that runs a Windows program
#   VELMORA_STANDIN      yes when the 64-bit stand-in takes Velmora.exe's place,
#                        with VELMORA_STANDIN_WHY
#
# Wine runs 32-bit Windows programs in a 32-bit Linux process. A kernel without
# IA-32 emulation cannot execute one, and Wine's launcher, which always tries the
# 32-bit loader first, then fails even for 64-bit programs: those go straight to
# the 64-bit loader instead.

# The binfmt_misc entries that take 32-bit x86 ELF programs (ELF class 1,
# machine 3), enabled or not.
velmora_i386_entries() {
    for entry in /proc/sys/fs/binfmt_misc/*; do
        case "${entry##*/}" in register | status) continue ;; esac
        [ -f "$entry" ] || continue
        magic="$(sed -n 's/^magic //p' "$entry" 2>/dev/null)"
        [ "$(echo "$magic" | cut -c1-10)" = 7f454c4601 ] && [ "$(echo "$magic" | cut -c37-40)" = 0300 ] &&
            echo "$entry"
    done
}

# The interpreter of the enabled one, if there is one. The kernel consults
# binfmt_misc before its own ELF loader, so such an entry wins even on a kernel
# that could run the program itself.
velmora_i386_interpreter() {
    for entry in $(velmora_i386_entries); do
        grep -qx enabled "$entry" 2>/dev/null || continue
        sed -n 's/^interpreter //p' "$entry"
        return 0
    done
    return 1
}

# QEMU's version (10.0.2) as a user-mode emulator at PATH prints it.
velmora_qemu_version() {
    "$(readlink -f "$1")" --version 2>/dev/null | sed -n '1s/.* version \([0-9][0-9.]*\).*/\1/p'
}

if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    VELMORA_RUNS_32BIT=yes
    WINE=wine
    if velmora_qemu="$(velmora_i386_interpreter)"; then
        VELMORA_32BIT=emulated
        VELMORA_32BIT_HOW="32-bit x86 code runs under QEMU $(velmora_qemu_version "$velmora_qemu")'s user-mode emulation ($velmora_qemu)"
    else
        VELMORA_32BIT=native
        VELMORA_32BIT_HOW="32-bit x86 code runs natively"
    fi
else
    VELMORA_RUNS_32BIT=no
    VELMORA_32BIT=none
    VELMORA_32BIT_HOW="this machine cannot execute 32-bit x86 code (no IA-32 emulation, no QEMU registered), so Wine cannot run Velmora.exe"
    WINE=/usr/lib/wine/wine64
    export WINELOADER=/usr/lib/wine/wine64
fi

# Wine's settings for every run of the project: quiet (unless the caller asks
# for Wine's debug channels), and no Mono or Gecko installers in a new prefix.
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="

# What a prefix made here records (see wine-prefix): this machine's mode of
# running 32-bit code, and "gui" for a prefix made for windows on Xvfb.
velmora_prefix_mark() {
    echo "$VELMORA_32BIT${1:+ $1}"
}

# Where Velmora.exe cannot run, its 64-bit stand-in (the tree build/standin) is
# tested, measured and shown in its place; VELMORA_STAND_IN=1 asks for it anywhere.
# (Emulated code is never timed: the benchmarks take the stand-in there too.)
if [ "${VELMORA_STAND_IN:-}" = 1 ]; then
    VELMORA_STANDIN=yes
    VELMORA_STANDIN_WHY="VELMORA_STAND_IN=1 asks for it"
elif [ "$VELMORA_32BIT" = none ]; then
    VELMORA_STANDIN=yes
    VELMORA_STANDIN_WHY="$VELMORA_32BIT_HOW"
else
    VELMORA_STANDIN=no
    VELMORA_STANDIN_WHY=""
fi
