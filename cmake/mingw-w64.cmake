# What the MinGW-w64 toolchain files share: Debian's cross compilers for
# MINGW_TRIPLET, static programs, and Wine to run what they build.
set(CMAKE_SYSTEM_NAME Windows)

# The -posix variants: GoogleTest does not build with win32 threads.
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static, so that the executables need no DLL beyond those Windows ships.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Wine runs in a prefix of the build tree's own, quietly. WINE_LOADER names
# the loader for this word size: Debian's wine script starts the 32-bit one
# whenever wine32 is installed.
set(WINE_ENVIRONMENT WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all)
find_program(WINE NAMES ${WINE_LOADER} PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(WINE NAMES ${WINE_LOADER})
if(WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR env ${WINE_ENVIRONMENT} ${WINE})
endif()
