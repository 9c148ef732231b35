# windows_tests.exe: the updater's functions against Wine's real Win32, with the tests
# shared with the host build (tests/both/), one ctest entry and one Wine prefix per suite.
set(WINDOWS_TEST_SOURCES
  tests/windows/road_access_lists_test.cpp
  tests/windows/road_clean_up_test.cpp
  tests/windows/road_download_test.cpp
  tests/windows/road_feed_test.cpp
  tests/windows/road_lines_test.cpp
  tests/windows/road_package_trust_test.cpp
  tests/windows/road_policy_test.cpp
  tests/windows/update_outcome_text_test.cpp
  tests/windows/update_preflight_test.cpp
  tests/windows/updater_wine_test.cpp)
list(APPEND WINDOWS_TEST_SOURCES ${BOTH_TIERS_TEST_SOURCES})
add_executable(windows_tests ${WINDOWS_TEST_SOURCES})
target_include_directories(windows_tests PRIVATE tests)
# With the road, whose folder rules are Windows code judged on descriptors, and the tools'
# Root store, where the package tests trust their test authority.
target_link_libraries(windows_tests PRIVATE updater_core corvanta_road tool_support msi gtest gtest_main)
precompile_common_headers(windows_tests <gtest/gtest.h>)
target_link_options(windows_tests PRIVATE -static)
set_target_properties(windows_tests PROPERTIES CROSSCOMPILING_EMULATOR "${WINE_RUN}")
# Built unoptimised: the tests spend their time waiting on Wine, and optimising them took a
# third of the Windows build's compile time.
target_compile_options(windows_tests PRIVATE -O0)
# Some of them start the sample product's programs of versions 1 and 2.
add_dependencies(windows_tests RemoteUpdater sample_ui_v1 sample_ui_v2 sample_service_v1)

# The download's tests start the tests' fault-injecting HTTP server, a Unix program that Wine
# starts by its path; Debian's python3 when there is one, since a shim of a Python version
# manager may need more of the environment than Wine hands on.
set(fault_server_python ${Python3_EXECUTABLE})
if(EXISTS /usr/bin/python3)
  set(fault_server_python /usr/bin/python3)
endif()
list(APPEND TEST_ENVIRONMENT "FAULT_SERVER_PYTHON=${fault_server_python}"
     "FAULT_SERVER=${CMAKE_SOURCE_DIR}/tests/feed_server/fault_server.py")
add_listed_gtests(windows_tests SUITE windows. RUN ${WINE_RUN} $<TARGET_FILE:windows_tests>)

# The feed server of scripts/lib/feed_server.sh, fetched from over https by the service's own
# client under Wine, in a prefix that trusts its authority and in one that does not.
add_executable(feed_fetch tests/windows/feed_fetch_main.cpp)
target_compile_options(feed_fetch PRIVATE ${UPDATER_WARNINGS})
target_link_libraries(feed_fetch PRIVATE corvanta_road)
target_link_options(feed_fetch PRIVATE -static -municode)
add_test(NAME windows.FeedServer
  COMMAND ${CMAKE_SOURCE_DIR}/tests/windows/check_feed_server $<TARGET_FILE:feed_fetch>
          ${CMAKE_BINARY_DIR} ${WINE_TEMPLATE})
set_tests_properties(windows.FeedServer PROPERTIES TIMEOUT 300)
