# Cross-compiles for 64-bit Windows with the mingw-w64 posix-thread compilers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)

# The cross tools are looked for on the PATH here, before CMake looks for anything itself: a
# configure that went on without them would leave the host's ar, strip and objcopy and empty
# release flags in the cache, and a later configure, once they are installed, would keep
# those and build a different executable without a word.
macro(find_cross_tool variable tool package)
  find_program(${variable} ${MINGW_TRIPLE}-${tool}
    NO_CMAKE_PATH NO_CMAKE_ENVIRONMENT_PATH NO_CMAKE_SYSTEM_PATH NO_CMAKE_INSTALL_PREFIX)
  if(NOT ${variable})
    message(FATAL_ERROR "${MINGW_TRIPLE}-${tool} is not on the PATH: install the Debian "
      "package ${package} (scripts/setup-debian installs it), then configure again.")
  endif()
endmacro()
find_cross_tool(MINGW_GCC gcc-posix gcc-mingw-w64-x86-64-posix)
find_cross_tool(MINGW_GXX g++-posix g++-mingw-w64-x86-64-posix)
# The binutils (ar, strip, objcopy) are then found beside the compiler, by its prefix.
find_cross_tool(MINGW_WINDRES windres binutils-mingw-w64-x86-64)
find_cross_tool(MINGW_DLLTOOL dlltool binutils-mingw-w64-x86-64)
set(CMAKE_C_COMPILER ${MINGW_GCC})
set(CMAKE_CXX_COMPILER ${MINGW_GXX})
set(CMAKE_RC_COMPILER ${MINGW_WINDRES})

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything links statically, so the programs import only Windows system DLLs,
# and without a link timestamp, so that two builds of one source are identical.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
