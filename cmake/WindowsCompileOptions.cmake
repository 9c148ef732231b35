# How every Windows program of the build is compiled, beyond the toolchain file.

# Build paths stay out of the binaries, so any checkout builds the same bytes. The
# updater's library was declared before this directory option, so it takes it by name.
set(WINDOWS_PATH_OPTIONS -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
add_compile_options(${WINDOWS_PATH_OPTIONS})
target_compile_options(updater_core PRIVATE ${WINDOWS_PATH_OPTIONS})

# Stack canaries in every function of the updater with an array or an address taken; the
# guard comes from libssp, linked statically like the rest.
target_compile_options(updater_core PUBLIC -fstack-protector-strong)
target_link_options(updater_core PUBLIC -fstack-protector-strong)
