# RemoteUpdater.exe: the entry file and the version and manifest resources on the updater's
# library, linked as a hardened GUI-subsystem program, then its delay-import directory
# filled in.

set(RU_VERSION_MAJOR ${PROJECT_VERSION_MAJOR})
set(RU_VERSION_MINOR ${PROJECT_VERSION_MINOR})
set(RU_VERSION_PATCH ${PROJECT_VERSION_PATCH})
configure_file(res/RemoteUpdater.manifest ${CMAKE_BINARY_DIR}/res/RemoteUpdater.manifest @ONLY)
set(RU_MANIFEST RemoteUpdater.manifest)
configure_file(res/RemoteUpdater.rc.in ${CMAKE_BINARY_DIR}/res/RemoteUpdater.rc @ONLY)
set_property(SOURCE ${CMAKE_BINARY_DIR}/res/RemoteUpdater.rc APPEND PROPERTY
  OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/res/RemoteUpdater.manifest)

add_executable(RemoteUpdater WIN32 src/app/main.cpp ${CMAKE_BINARY_DIR}/res/RemoteUpdater.rc
  cmake/delayload/descriptor_table_end.c)
target_compile_options(RemoteUpdater PRIVATE ${UPDATER_WARNINGS} -municode)
target_link_libraries(RemoteUpdater PRIVATE updater_core)
# The oldest Windows it starts on is Windows 8 (6.2): the library-search
# restriction imports SetDefaultDllDirectories and SetProcessMitigationPolicy
# at load time. The header says so, and an older Windows refuses the file
# instead of failing to resolve an import.
target_link_options(RemoteUpdater PRIVATE
  -municode -static -s
  -Wl,--dynamicbase,--high-entropy-va,--nxcompat,--no-insert-timestamp
  -Wl,--major-subsystem-version,6,--minor-subsystem-version,2
  -Wl,--major-os-version,6,--minor-os-version,2
  -Wl,-Map,${CMAKE_BINARY_DIR}/RemoteUpdater.map)

# GNU ld leaves the delay-import directory empty: point it at the descriptors,
# where the link map says they are.
add_custom_command(TARGET RemoteUpdater POST_BUILD
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/cmake/fill_delay_import_directory.py
          $<TARGET_FILE:RemoteUpdater> ${CMAKE_BINARY_DIR}/RemoteUpdater.map
  VERBATIM)
