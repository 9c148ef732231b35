# Refuses a build folder whose cache was written before the cross compilers were known: by a
# configure that failed for want of them (before the toolchain file checked for them), or
# by one without the toolchain file. Such a cache keeps the host's binutils and empty
# release flags, and every later configure keeps them in turn: the executable would then be
# built without -Os -DNDEBUG, by other tools, and not the same bytes as a clean build.
set(cache_faults "")
foreach(tool AR RANLIB STRIP OBJCOPY OBJDUMP NM LINKER READELF)
  get_filename_component(tool_name "${CMAKE_${tool}}" NAME)
  if(NOT tool_name MATCHES "^${MINGW_TRIPLE}-")
    list(APPEND cache_faults "CMAKE_${tool} is ${CMAKE_${tool}}")
  endif()
endforeach()
# The compiler's own defaults for the build type (-Os -DNDEBUG for MinSizeRel) land in the
# cache only when the compiler is known at the first configure.
string(TOUPPER "${CMAKE_BUILD_TYPE}" build_type)
foreach(language C CXX)
  set(flags CMAKE_${language}_FLAGS_${build_type})
  if(build_type AND "$CACHE{${flags}}" STREQUAL "" AND NOT "${${flags}_INIT}" STREQUAL "")
    string(STRIP "${${flags}_INIT}" default_flags)
    list(APPEND cache_faults "${flags} is empty, where the compiler's default is ${default_flags}")
  endif()
endforeach()
if(cache_faults)
  list(JOIN cache_faults "\n  " faults)
  message(FATAL_ERROR "${CMAKE_BINARY_DIR} was first configured without the cross "
    "compilers, and its cache keeps what it found then:\n  ${faults}\n"
    "Configure it afresh: cmake --fresh --preset windows (or remove "
    "${CMAKE_BINARY_DIR}/CMakeCache.txt).")
endif()
