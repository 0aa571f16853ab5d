# Sourced by the Wine scripts: sets WINE, the command that runs a Windows
# program, and VELMORA_RUNS_32BIT (yes or no).
#
# Wine runs 32-bit Windows programs in a 32-bit Linux process. A kernel without
# IA-32 emulation cannot execute one, and Wine's launcher, which always tries the
# 32-bit loader first, then fails even for 64-bit programs: those go straight to
# the 64-bit loader instead.
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    VELMORA_RUNS_32BIT=yes
    WINE=wine
else
    VELMORA_RUNS_32BIT=no
    WINE=/usr/lib/wine/wine64
    export WINELOADER=/usr/lib/wine/wine64
fi
