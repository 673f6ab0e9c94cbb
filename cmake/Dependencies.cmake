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
add_library(brisalen_plist INTERFACE)
if(WIN32)
    target_link_libraries(PkgConfig::LIBXML2 INTERFACE ws2_32)
    # libplist's static archive still holds the DllMain of its DLL build,
    # which would clash with the library's own load entry. That DllMain only
    # reads debugging switches, so a copy of the archive with the symbol
    # made local is linked instead (made again when the cache changes).
    find_file(LIBPLIST_ARCHIVE libplist-2.0.a PATHS ${LIBPLIST_LIBRARY_DIRS} NO_DEFAULT_PATH REQUIRED)
    set(LIBPLIST_LOCAL_ARCHIVE ${CMAKE_BINARY_DIR}/deps/libplist-2.0-no-dllmain.a)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${LIBPLIST_ARCHIVE})
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/deps)
    execute_process(COMMAND ${CMAKE_OBJCOPY} --localize-symbol=_DllMain@12 --localize-symbol=DllMain
                            ${LIBPLIST_ARCHIVE} ${LIBPLIST_LOCAL_ARCHIVE}
                    RESULT_VARIABLE objcopy_result)
    if(NOT objcopy_result EQUAL 0)
        message(FATAL_ERROR "could not copy ${LIBPLIST_ARCHIVE} without its DllMain")
    endif()
    target_link_libraries(brisalen_plist INTERFACE ${LIBPLIST_LOCAL_ARCHIVE})
    target_include_directories(brisalen_plist INTERFACE ${LIBPLIST_INCLUDE_DIRS})
    target_compile_options(brisalen_plist INTERFACE ${LIBPLIST_CFLAGS_OTHER})
else()
    target_link_libraries(brisalen_plist INTERFACE PkgConfig::LIBPLIST)
endif()

if(NOT WIN32)
    find_package(nlohmann_json REQUIRED)
    find_package(CLI11 QUIET CONFIG)
    pkg_check_modules(LIBMSI REQUIRED IMPORTED_TARGET libmsi-1.0)
    find_package(Iconv REQUIRED)
endif()
