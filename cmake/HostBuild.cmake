# Host build: the updater's code against the simulated Windows, with the unit
# tests. Sanitizers: -DUPDATER_SANITIZE=ON.
option(UPDATER_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(UPDATER_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

add_subdirectory(winsim)
target_link_libraries(updater_core PUBLIC winsim)

find_package(GTest REQUIRED)
include(GoogleTest)

file(GLOB UNIT_TEST_SOURCES CONFIGURE_DEPENDS tests/unit/*.cpp tests/both/*.cpp)
add_executable(unit_tests ${UNIT_TEST_SOURCES})
target_include_directories(unit_tests PRIVATE tests)
target_link_libraries(unit_tests PRIVATE updater_core winsim GTest::gtest GTest::gtest_main)
gtest_discover_tests(unit_tests TEST_PREFIX "host." DISCOVERY_TIMEOUT 30)

# The demo's timeline picture, drawn from the committed timeline of one run.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME scripts.TimelineSvg
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/scripts/timeline_svg_test.py)
