# Sourced by the Wine scripts: sets WINE, the command that runs a Windows
# program, VELMORA_RUNS_32BIT (yes or no), and VELMORA_STANDIN (yes or no) with
# VELMORA_STANDIN_WHY.
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

# Where Velmora.exe cannot run, its 64-bit stand-in (the tree build/standin) is
# tested, measured and shown in its place; VELMORA_STAND_IN=1 asks for it anywhere.
if [ "${VELMORA_STAND_IN:-}" = 1 ]; then
    VELMORA_STANDIN=yes
    VELMORA_STANDIN_WHY="VELMORA_STAND_IN=1 asks for it"
elif [ "$VELMORA_RUNS_32BIT" = no ]; then
    VELMORA_STANDIN=yes
    VELMORA_STANDIN_WHY="this machine cannot execute 32-bit x86 code (no IA-32 emulation), so Wine cannot run Velmora.exe"
else
    VELMORA_STANDIN=no
    VELMORA_STANDIN_WHY=""
fi
