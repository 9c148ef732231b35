# Host build: the updater's code against the simulated Windows, with the unit
# tests. Sanitizers: -DUPDATER_SANITIZE=ON. The fuzz targets besides the unit
# tests, all sanitized: -DUPDATER_FUZZ=ON with clang (the fuzz preset), so that
# the test command builds the updater and the simulation once for both.
option(UPDATER_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(UPDATER_FUZZ "Build the libFuzzer targets too, everything sanitized" OFF)
set(HOST_SANITIZER_OPTIONS)
if(UPDATER_SANITIZE OR UPDATER_FUZZ)
  set(HOST_SANITIZER_OPTIONS -fsanitize=address,undefined -fno-omit-frame-pointer
      -fno-sanitize-recover=all)
endif()
if(HOST_SANITIZER_OPTIONS)
  add_compile_options(${HOST_SANITIZER_OPTIONS})
  add_link_options(-fsanitize=address,undefined)
  # The updater's library was declared before the directory options above,
  # so it takes them by name.
  target_compile_options(updater_core PRIVATE ${HOST_SANITIZER_OPTIONS})
endif()

add_subdirectory(winsim)
target_link_libraries(updater_core PUBLIC winsim)

if(UPDATER_FUZZ)
  # Coverage feedback for the fuzzer in the updater, the simulation and the targets.
  # The unit tests' own code needs none: without it, and unoptimised, it compiles in
  # half the time.
  set(FUZZ_COVERAGE_OPTIONS -fsanitize=fuzzer-no-link -O1)
  target_compile_options(updater_core PRIVATE ${FUZZ_COVERAGE_OPTIONS})
  target_compile_options(winsim PRIVATE ${FUZZ_COVERAGE_OPTIONS})
  add_subdirectory(fuzz)
endif()

find_package(GTest REQUIRED)
include(GoogleTest)

# The demo's timeline picture, drawn from the committed timeline of one run.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME scripts.TimelineSvg
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/scripts/timeline_svg_test.py)
# The fleet's figures against sums worked out by hand, their picture well-formed, and the
# committed ones in docs/ still what the script makes.
add_test(NAME scripts.FleetFigures
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/scripts/fleet_figures_test.py)
# Every script refuses a bad command line with its usage line, before doing anything.
add_test(NAME scripts.UsageLines
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/scripts/usage_test.py)
# scripts/publish lists signed packages in a signed feed, and --verify refuses a changed one.
add_test(NAME scripts.PublishFeed
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/scripts/publish_test.py)
# The Group Policy template is well-formed XML in the schema's shape, and writes exactly the
# values the service reads.
add_test(NAME scripts.PolicyTemplate
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/scripts/policy_template_test.py)
# Each slip of the road's mutation run still finds its text, so that a change of the code cannot
# leave a slip behind unnoticed (the run itself is not part of the test command).
add_test(NAME scripts.RoadSlipTexts
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/mutations/check_road_slips.py --texts)
# scripts/setup-debian adds bookworm-backports from the machine's own mirror, in either format.
add_test(NAME scripts.BackportsFromTheMachinesMirror
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/scripts/apt_sources_test.py)

# The host's own tests, and those both tiers run.
set(UNIT_TEST_SOURCES
  tests/unit/contract_words_test.cpp
  tests/unit/failure_sweep_test.cpp
  tests/unit/installer_mode_test.cpp
  tests/unit/product_processes_test.cpp
  tests/unit/relaunch_watcher_test.cpp
  tests/unit/remote_service_test.cpp)
list(APPEND UNIT_TEST_SOURCES ${BOTH_TIERS_TEST_SOURCES})
add_executable(unit_tests ${UNIT_TEST_SOURCES})
target_include_directories(unit_tests PRIVATE tests)
target_link_libraries(unit_tests PRIVATE updater_core winsim GTest::gtest GTest::gtest_main)
# C++20 for the tests' designated initializers: a row describes its simulated
# machine by the fields that differ from the usual one.
set_target_properties(unit_tests PROPERTIES CXX_STANDARD 20)
precompile_common_headers(unit_tests <gtest/gtest.h>)
if(HOST_SANITIZER_OPTIONS)
  # A sanitized process takes about a tenth of a second to start, longer than most
  # cases take to run: the whole program is one entry (5 s, against 30 s as one
  # process per case), and its output names any case that fails.
  add_test(NAME sanitized.unit_tests COMMAND unit_tests)
else()
  gtest_discover_tests(unit_tests TEST_PREFIX "host." DISCOVERY_TIMEOUT 30)
endif()

