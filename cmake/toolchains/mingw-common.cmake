# What both MinGW-w64 toolchains share; CMAKE_SYSTEM_PROCESSOR picks the
# target. Dependencies come from the cache filled by
# scripts/build-windows-deps.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(BRISALEN_TRIPLET ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

if(DEFINED ENV{BRISALEN_DEPS_CACHE})
    set(BRISALEN_DEPS_PREFIX "$ENV{BRISALEN_DEPS_CACHE}/${BRISALEN_TRIPLET}")
else()
    set(BRISALEN_DEPS_PREFIX "$ENV{HOME}/.cache/brisalen-deps/${BRISALEN_TRIPLET}")
endif()

set(CMAKE_C_COMPILER /usr/bin/${BRISALEN_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${BRISALEN_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${BRISALEN_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${BRISALEN_TRIPLET} "${BRISALEN_DEPS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Keep pkg-config away from the build machine's own .pc files.
set(ENV{PKG_CONFIG_LIBDIR} "${BRISALEN_DEPS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# CTest runs the built programs under Wine, in the test prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh)
