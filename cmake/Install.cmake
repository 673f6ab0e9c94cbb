# What `cmake --install` gives a Windows application developer: the library
# with its import library and header, the two companions it loads by name at
# run time, the sample host and a note on where each belongs. The host and
# every DLL link the MinGW runtime (libstdc++, libgcc, winpthread)
# statically, so no runtime DLL goes with them; scripts/check-release.sh
# fails should a build ever import one.
#
# Everything the host loads lies in bin/, side by side, as it must on the
# user's machine.
install(TARGETS Brisalen
        RUNTIME DESTINATION bin
        ARCHIVE DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/include/Brisalen.h ${PROJECT_SOURCE_DIR}/include/BrisalenC.h DESTINATION include)
# For hosts of other compilers, through the C interface of BrisalenC.h: the
# import library MSVC's linker takes, and the .def it was made from for
# toolchains that make their own. Without the LLVM tools there is no
# Brisalen.lib, and scripts/check-release.sh says so.
install(FILES ${PROJECT_SOURCE_DIR}/Brisalen/Brisalen.def DESTINATION lib)
if(BRISALEN_MSVC_ABI)
    install(FILES ${BRISALEN_MSVC_IMPORT_LIB} DESTINATION lib)
endif()
# The Python binding over the C interface, where the tree has it.
if(EXISTS ${PROJECT_SOURCE_DIR}/bindings/python/brisalen.py)
    install(FILES ${PROJECT_SOURCE_DIR}/bindings/python/brisalen.py DESTINATION bindings/python)
endif()

# Nothing links against the companions, so their import libraries stay
# behind (a component no full install takes). The faulting test build of
# RemovePackage.dll is no install target at all.
install(TARGETS RemovePackage ITunesLibrary
        RUNTIME DESTINATION bin
        ARCHIVE DESTINATION lib COMPONENT companion-import-libraries EXCLUDE_FROM_ALL)

install(TARGETS brisalen RUNTIME DESTINATION bin)

# The note names the compiler a host must match; a Windows reader gets it
# with Windows line ends.
string(REGEX MATCH "^[0-9]+" BRISALEN_GCC_MAJOR "${CMAKE_CXX_COMPILER_VERSION}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/release/README.txt.in ${CMAKE_BINARY_DIR}/release/README.txt
               @ONLY NEWLINE_STYLE WIN32)
install(FILES ${CMAKE_BINARY_DIR}/release/README.txt DESTINATION .)
