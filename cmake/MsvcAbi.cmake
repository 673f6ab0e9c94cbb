# Tools that build for the MSVC binary interface without a Windows SDK:
# clang for the msvc target, lld-link, and llvm-dlltool, which makes import
# libraries from .def files. Debian names them with or without the LLVM
# major version. Where all three are found, BRISALEN_MSVC_ABI is ON and the
# build makes Brisalen.lib (for MSVC hosts) and the MSVC-ABI test host.
set(BRISALEN_LLVM_HINTS /usr/lib/llvm-19/bin /usr/lib/llvm-18/bin /usr/lib/llvm-17/bin /usr/lib/llvm-16/bin
                        /usr/lib/llvm-15/bin /usr/lib/llvm-14/bin)
find_program(BRISALEN_CLANG NAMES clang clang-19 clang-18 clang-17 clang-16 clang-15 clang-14
             HINTS ${BRISALEN_LLVM_HINTS})
find_program(BRISALEN_LLD_LINK NAMES lld-link lld-link-19 lld-link-18 lld-link-17 lld-link-16 lld-link-15 lld-link-14
             HINTS ${BRISALEN_LLVM_HINTS})
find_program(BRISALEN_LLVM_DLLTOOL
             NAMES llvm-dlltool llvm-dlltool-19 llvm-dlltool-18 llvm-dlltool-17 llvm-dlltool-16 llvm-dlltool-15
                   llvm-dlltool-14
             HINTS ${BRISALEN_LLVM_HINTS})
if(BRISALEN_CLANG AND BRISALEN_LLD_LINK AND BRISALEN_LLVM_DLLTOOL)
    set(BRISALEN_MSVC_ABI ON)
else()
    set(BRISALEN_MSVC_ABI OFF)
    message(STATUS "clang, lld-link or llvm-dlltool not found: no Brisalen.lib and no MSVC-ABI host")
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(BRISALEN_MSVC_TARGET x86_64-pc-windows-msvc)
    set(BRISALEN_DLLTOOL_MACHINE i386:x86-64)
    set(BRISALEN_LINK_MACHINE x64)
else()
    set(BRISALEN_MSVC_TARGET i686-pc-windows-msvc)
    set(BRISALEN_DLLTOOL_MACHINE i386)
    set(BRISALEN_LINK_MACHINE x86)
endif()

# An import library for MSVC's linker from a .def file. With KILL_AT the
# def names __stdcall functions as Name@N: the library's symbols keep the
# decoration the compiler emits (_Name@N on i686), the DLL is asked for
# Name.
function(brisalen_import_library out def)
    cmake_parse_arguments(PARSE_ARGV 2 ARG "KILL_AT" "" "")
    set(extra)
    if(ARG_KILL_AT)
        set(extra -k)
    endif()
    add_custom_command(OUTPUT ${out}
                       COMMAND ${BRISALEN_LLVM_DLLTOOL} -m ${BRISALEN_DLLTOOL_MACHINE} -d ${def} -l ${out} ${extra}
                       DEPENDS ${def}
                       COMMENT "import library ${out}"
                       VERBATIM)
endfunction()
