# Third-party libraries. Natively they come from Debian; for the Windows
# targets from the cache that scripts/build-windows-deps.sh fills (passed in
# through CMAKE_PREFIX_PATH by the toolchain presets).
find_package(PkgConfig REQUIRED)
find_package(fmt REQUIRED)
find_package(Threads REQUIRED)

# log4cpp has no CMake package; pkg-config finds Debian's. Where none is
# found (the Windows targets) the logging module uses its own rolling sink.
pkg_check_modules(LOG4CPP IMPORTED_TARGET log4cpp)

# Property lists of iOS backups: libplist holds the nodes and reads the
# binary form, libxml2 parses the XML form. For the Windows targets both are
# static archives; libxml2's own .pc lists ws2_32 only for static links.
pkg_check_modules(LIBPLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(LIBXML2 REQUIRED IMPORTED_TARGET libxml-2.0)
if(WIN32)
    target_link_libraries(PkgConfig::LIBXML2 INTERFACE ws2_32)
endif()

if(NOT WIN32)
    find_package(nlohmann_json REQUIRED)
    find_package(CLI11 QUIET CONFIG)
    pkg_check_modules(LIBMSI REQUIRED IMPORTED_TARGET libmsi-1.0)
    find_package(Iconv REQUIRED)
endif()
