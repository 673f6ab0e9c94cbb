# Third-party libraries. Natively they come from Debian; for the Windows
# targets from the cache that scripts/build-windows-deps.sh fills (passed in
# through CMAKE_PREFIX_PATH by the toolchain presets).
find_package(PkgConfig REQUIRED)
find_package(fmt REQUIRED)
find_package(Threads REQUIRED)

# log4cpp has no CMake package; pkg-config finds Debian's. Where none is
# found (the Windows targets) the logging module uses its own rolling sink.
pkg_check_modules(LOG4CPP IMPORTED_TARGET log4cpp)

if(NOT WIN32)
    find_package(nlohmann_json REQUIRED)
    find_package(CLI11 QUIET CONFIG)
    pkg_check_modules(LIBMSI REQUIRED IMPORTED_TARGET libmsi-1.0)
    find_package(Iconv REQUIRED)
endif()
