# Windows programs of this tree run under Wine in prefixes that belong to the
# tree (never ~/.wine): wine/win64 (a 32-bit program in it runs under WOW64) and
# wine/win32 (made with WINEARCH=win32). The toolchain file names the wrapper
# below as the cross-compiling emulator, so ctest runs test programs through it.
set(VELMORA_WINE_DIR "${CMAKE_BINARY_DIR}/wine")
configure_file("${PROJECT_SOURCE_DIR}/scripts/wine-run.in" "${CMAKE_BINARY_DIR}/wine-run"
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE
               @ONLY)
