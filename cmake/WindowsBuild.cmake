# Windows build: RemoteUpdater.exe, and the tests that run under Wine.
target_link_libraries(updater_core PUBLIC kernel32 advapi32 shell32 user32)
# Build paths stay out of the binaries, so any checkout builds the same bytes.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)

set(RU_VERSION_MAJOR ${PROJECT_VERSION_MAJOR})
set(RU_VERSION_MINOR ${PROJECT_VERSION_MINOR})
set(RU_VERSION_PATCH ${PROJECT_VERSION_PATCH})
configure_file(res/RemoteUpdater.manifest ${CMAKE_BINARY_DIR}/res/RemoteUpdater.manifest @ONLY)
set(RU_MANIFEST RemoteUpdater.manifest)
configure_file(res/RemoteUpdater.rc.in ${CMAKE_BINARY_DIR}/res/RemoteUpdater.rc @ONLY)

add_executable(RemoteUpdater WIN32 src/app/main.cpp ${CMAKE_BINARY_DIR}/res/RemoteUpdater.rc)
target_compile_options(RemoteUpdater PRIVATE ${UPDATER_WARNINGS} -municode)
target_link_libraries(RemoteUpdater PRIVATE updater_core)
target_link_options(RemoteUpdater PRIVATE
  -municode -static -s
  -Wl,--dynamicbase,--high-entropy-va,--nxcompat,--no-insert-timestamp)
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
target_link_libraries(windows_tests PRIVATE updater_core gtest gtest_main)
target_link_options(windows_tests PRIVATE -static)
set_target_properties(windows_tests PROPERTIES CROSSCOMPILING_EMULATOR "${WINE_RUN}")
add_dependencies(windows_tests RemoteUpdater)

# One ctest entry, and so one Wine prefix, per test suite.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${WINDOWS_TEST_SOURCES})
set(windows_suites "")
foreach(source IN LISTS WINDOWS_TEST_SOURCES)
  file(STRINGS ${source} lines REGEX "^TEST(_F|_P)?\\(")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^TEST(_F|_P)?\\(([A-Za-z0-9_]+),.*" "\\2" suite "${line}")
    list(APPEND windows_suites ${suite})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES windows_suites)
foreach(suite IN LISTS windows_suites)
  add_test(NAME windows.${suite} COMMAND windows_tests --gtest_filter=${suite}.*:*/${suite}.*)
  set_tests_properties(windows.${suite} PROPERTIES
    ENVIRONMENT "REMOTEUPDATER_EXE=$<TARGET_FILE:RemoteUpdater>;CORVANTA_SAMPLE_DIR=${CMAKE_BINARY_DIR}/sample"
    TIMEOUT 600)
endforeach()

# The properties of the shipped executable, read from the PE file itself.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME windows.ExecutableProperties
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/windows/check_pe.py $<TARGET_FILE:RemoteUpdater> ${PROJECT_VERSION})
add_test(NAME windows.ReproducibleBuild
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-reproducible ${CMAKE_SOURCE_DIR} $<TARGET_FILE:RemoteUpdater>)
set_tests_properties(windows.ReproducibleBuild PROPERTIES TIMEOUT 600)

if(EXISTS ${CMAKE_SOURCE_DIR}/sample/CMakeLists.txt)
  add_subdirectory(sample)
endif()

# Whole updates end to end: each test case in a prefix of its own, prepared
# with version 1 of the sample product installed and running.
file(GLOB E2E_TEST_SOURCES CONFIGURE_DEPENDS tests/e2e/*.cpp)
add_executable(e2e_tests ${E2E_TEST_SOURCES})
target_include_directories(e2e_tests PRIVATE tests sample/common)
target_link_libraries(e2e_tests PRIVATE updater_core gtest gtest_main ole32 advapi32)
target_link_options(e2e_tests PRIVATE -static)
add_dependencies(e2e_tests RemoteUpdater sample_msi)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${E2E_TEST_SOURCES})
foreach(source IN LISTS E2E_TEST_SOURCES)
  file(STRINGS ${source} lines REGEX "^TEST_F\\(")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^TEST_F\\(([A-Za-z0-9_]+), ([A-Za-z0-9_]+)\\).*" "\\1.\\2" name "${line}")
    string(REGEX REPLACE ".*\\." "" case "${name}")
    add_test(NAME e2e.${case}
      COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run --sample ${CMAKE_BINARY_DIR}/sample ${WINE_TEMPLATE}
              $<TARGET_FILE:e2e_tests> --gtest_filter=${name})
    set_tests_properties(e2e.${case} PROPERTIES
      ENVIRONMENT "REMOTEUPDATER_EXE=$<TARGET_FILE:RemoteUpdater>;CORVANTA_SAMPLE_DIR=${CMAKE_BINARY_DIR}/sample"
      TIMEOUT 600)
  endforeach()
endforeach()

# The README's main-job command, in a build folder of its own.
add_test(NAME e2e.Demo COMMAND ${CMAKE_SOURCE_DIR}/scripts/demo ${CMAKE_BINARY_DIR}/demo-build)
set_tests_properties(e2e.Demo PROPERTIES TIMEOUT 900)
