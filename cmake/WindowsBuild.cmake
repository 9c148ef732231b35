# Windows build: RemoteUpdater.exe, and the tests that run under Wine.

# shell32 and user32 are delay-loaded, so that they, and the libraries they
# pull in, load only after wWinMain has restricted the search to System32: a
# load-time import is resolved from the program's own folder first. Each
# import library is made from a .def file naming the functions used; it comes
# before the compiler's default libraries on the link line, so it wins.
find_program(MINGW_DLLTOOL ${MINGW_TRIPLE}-dlltool REQUIRED)
set(delay_load_libraries "")
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delayload)
foreach(library shell32 user32)
  set(definitions ${CMAKE_SOURCE_DIR}/cmake/delayload/${library}.def)
  set(import_library ${CMAKE_BINARY_DIR}/delayload/lib${library}_delay.a)
  add_custom_command(OUTPUT ${import_library}
    # A fixed temporary prefix: the default one holds dlltool's process id.
    COMMAND ${MINGW_DLLTOOL} -d ${definitions} -y ${import_library} -t ${library}_delay
    DEPENDS ${definitions}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/delayload VERBATIM)
  list(APPEND delay_load_libraries ${import_library})
endforeach()
add_custom_target(delay_load_import_libraries DEPENDS ${delay_load_libraries})
add_dependencies(updater_core delay_load_import_libraries)
target_link_libraries(updater_core PUBLIC kernel32 advapi32 ${delay_load_libraries})

# Stack canaries in every function with an array or an address taken; the
# guard comes from libssp, linked statically like the rest.
target_compile_options(updater_core PUBLIC -fstack-protector-strong)
target_link_options(updater_core PUBLIC -fstack-protector-strong)
# Build paths stay out of the binaries, so any checkout builds the same bytes.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)

set(RU_VERSION_MAJOR ${PROJECT_VERSION_MAJOR})
set(RU_VERSION_MINOR ${PROJECT_VERSION_MINOR})
set(RU_VERSION_PATCH ${PROJECT_VERSION_PATCH})
configure_file(res/RemoteUpdater.manifest ${CMAKE_BINARY_DIR}/res/RemoteUpdater.manifest @ONLY)
set(RU_MANIFEST RemoteUpdater.manifest)
configure_file(res/RemoteUpdater.rc.in ${CMAKE_BINARY_DIR}/res/RemoteUpdater.rc @ONLY)

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
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(TARGET RemoteUpdater POST_BUILD
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/cmake/fill_delay_import_directory.py
          $<TARGET_FILE:RemoteUpdater> ${CMAKE_BINARY_DIR}/RemoteUpdater.map
  VERBATIM)
set_property(SOURCE ${CMAKE_BINARY_DIR}/res/RemoteUpdater.rc APPEND PROPERTY
  OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/res/RemoteUpdater.manifest)

# GoogleTest from the Debian sources, built with the same toolchain.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Every Windows test program runs under Wine, each run in a prefix of its own.
set(WINE_TEMPLATE ${CMAKE_BINARY_DIR}/wine-template)
set(WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run ${WINE_TEMPLATE})

file(GLOB WINDOWS_TEST_SOURCES CONFIGURE_DEPENDS tests/windows/*.cpp tests/both/*.cpp)
add_executable(windows_tests ${WINDOWS_TEST_SOURCES})
target_include_directories(windows_tests PRIVATE tests)
# With the road, whose folder rules are Windows code judged on descriptors.
target_link_libraries(windows_tests PRIVATE updater_core corvanta_road gtest gtest_main)
precompile_common_headers(windows_tests <gtest/gtest.h>)
target_link_options(windows_tests PRIVATE -static)
set_target_properties(windows_tests PROPERTIES CROSSCOMPILING_EMULATOR "${WINE_RUN}")
# The test programs and GoogleTest are built unoptimised: they spend their time waiting on
# Wine, and optimising them took a third of the Windows build's compile time.
target_compile_options(windows_tests PRIVATE -O0)
target_compile_options(gtest PRIVATE -O0)
target_compile_options(gtest_main PRIVATE -O0)
# Some of them start the sample product's programs of versions 1 and 2.
add_dependencies(windows_tests RemoteUpdater sample_ui_v1 sample_ui_v2 sample_service_v1)

# The ctest entries of a test program come from its own list of tests, taken
# under Wine after each link (cmake/ListedTests.cmake): a test added to the
# sources runs without any change here. Each entry runs `run_command` with a
# filter for one test suite (group SUITE) or one test case (group CASE).
set(TEST_ENVIRONMENT
  "REMOTEUPDATER_EXE=$<TARGET_FILE:RemoteUpdater>;CORVANTA_SAMPLE_DIR=${CMAKE_BINARY_DIR}/sample")
function(add_listed_gtests target group prefix)
  set(settings ${CMAKE_BINARY_DIR}/${target}-listing.cmake)
  set(entries ${CMAKE_BINARY_DIR}/${target}-entries.cmake)
  set(run_command "")
  foreach(argument IN LISTS ARGN)
    string(APPEND run_command " [==[${argument}]==]")
  endforeach()
  file(GENERATE OUTPUT ${settings} CONTENT "\
set(list_command [==[${CMAKE_SOURCE_DIR}/scripts/wine-run]==] [==[${WINE_TEMPLATE}]==] [==[$<TARGET_FILE:${target}>]==])
set(run_command${run_command})
set(group ${group})
set(prefix [==[${prefix}]==])
set(properties [===[ENVIRONMENT [==[${TEST_ENVIRONMENT}]==] TIMEOUT 600 WORKING_DIRECTORY [==[${CMAKE_BINARY_DIR}]==]]===])
set(entries [==[${entries}]==])
set(long_running [==[${LONG_RUNNING_TESTS}]==])
")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DSETTINGS=${settings} -P ${CMAKE_SOURCE_DIR}/cmake/ListedTests.cmake
    VERBATIM)
  # Until the program is built, one entry stands for its tests, and fails.
  set(include_file ${CMAKE_BINARY_DIR}/${target}-include.cmake)
  file(WRITE ${include_file} "if(EXISTS [==[${entries}]==])
  include([==[${entries}]==])
else()
  add_test(${target}_NOT_BUILT ${target}_NOT_BUILT)
endif()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()

# Tests run side by side under Wine; those that take longest start first, so
# that the last to end does not start last. On later runs ctest orders them by
# the times it measured.
set(LONG_RUNNING_TESTS
  "^(StubbornServiceOnWine|SlowServiceOnWine|SoakOfUpdatesInARow|NewUpdateCompletesAfterInstallerModeWasKilled|ServiceThatWillNotStopStopsTheUpdateBeforeAnythingChanges)$")

# One entry, and so one Wine prefix, per test suite.
add_listed_gtests(windows_tests SUITE windows. ${WINE_RUN} $<TARGET_FILE:windows_tests>)

# The properties of the shipped executable, read from the PE file itself.
add_test(NAME windows.ExecutableProperties
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/windows/check_pe.py $<TARGET_FILE:RemoteUpdater> ${PROJECT_VERSION})
add_test(NAME windows.ReproducibleBuild
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-reproducible ${CMAKE_SOURCE_DIR} $<TARGET_FILE:RemoteUpdater>)
set_tests_properties(windows.ReproducibleBuild PROPERTIES TIMEOUT 600 COST 1000)
# A release signed by scripts/sign, with a certificate made for the test.
add_test(NAME windows.SignedExecutable
  COMMAND ${CMAKE_SOURCE_DIR}/tests/windows/check_signing ${CMAKE_SOURCE_DIR}
          $<TARGET_FILE:RemoteUpdater> ${PROJECT_VERSION} ${WINE_TEMPLATE})
set_tests_properties(windows.SignedExecutable PROPERTIES TIMEOUT 300)

# The update road, the sample product on top of it, and the drivers on top of both.
add_subdirectory(road)
add_subdirectory(sample)
add_subdirectory(tools)

# Whole updates end to end: each test case in a prefix of its own, prepared
# with version 1 of the sample product installed and running.
file(GLOB E2E_TEST_SOURCES CONFIGURE_DEPENDS tests/e2e/*.cpp)
add_executable(e2e_tests ${E2E_TEST_SOURCES})
target_include_directories(e2e_tests PRIVATE tests)
target_link_libraries(e2e_tests PRIVATE updater_core corvanta_road sample_ui_window gtest gtest_main)
# The same headers as the Windows tests, compiled once for both.
target_precompile_headers(e2e_tests REUSE_FROM windows_tests)
target_compile_options(e2e_tests PRIVATE -O0)
target_link_options(e2e_tests PRIVATE -static)
add_dependencies(e2e_tests RemoteUpdater sample_msi sample_run sample_apply_update planted_library)

# A library that marks where it was loaded, planted beside the updater under
# the names of system libraries.
add_library(planted_library SHARED tests/e2e/planted_library.c)
set_target_properties(planted_library PROPERTIES PREFIX "")
target_link_options(planted_library PRIVATE -static -s)
list(APPEND TEST_ENVIRONMENT "PLANTED_LIBRARY=$<TARGET_FILE:planted_library>")
add_listed_gtests(e2e_tests CASE e2e.
  ${CMAKE_SOURCE_DIR}/scripts/wine-run --sample ${CMAKE_BINARY_DIR}/sample ${WINE_TEMPLATE}
  $<TARGET_FILE:e2e_tests>)

# What the updater loads before it locks the library search, read from a Wine
# trace of an empty command line and of a whole installer-mode run.
add_test(NAME e2e.LibraryLoadOrder
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/windows/check_load_order.py
          ${CMAKE_SOURCE_DIR} $<TARGET_FILE:RemoteUpdater> ${CMAKE_BINARY_DIR}/sample ${WINE_TEMPLATE})
set_tests_properties(e2e.LibraryLoadOrder PROPERTIES TIMEOUT 600)

# The README's demo runs once, from scripts/test, on this build folder.

# The benchmark, once with one round on this build: it fails only when a figure
# is missing, never on a time.
add_test(NAME e2e.Bench
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/bench --prebuilt --rounds 1 ${CMAKE_BINARY_DIR})
set_tests_properties(e2e.Bench PROPERTIES TIMEOUT 600 COST 1000)
