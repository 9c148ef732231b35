# Whole updates end to end: each test case of e2e_tests.exe in a prefix of its own,
# prepared with version 1 of the sample product installed and running; the library load
# order read from Wine's traces; and one round of the benchmark.
set(E2E_TEST_SOURCES
  tests/e2e/feed_e2e_test.cpp
  tests/e2e/update_e2e_test.cpp
  tests/e2e/update_road_e2e_test.cpp)
add_executable(e2e_tests ${E2E_TEST_SOURCES})
target_include_directories(e2e_tests PRIVATE tests)
target_link_libraries(e2e_tests PRIVATE updater_core corvanta_road sample_ui_window tool_support gtest
                      gtest_main)
# The same headers as the Windows tests, compiled once for both.
target_precompile_headers(e2e_tests REUSE_FROM windows_tests)
target_compile_options(e2e_tests PRIVATE -O0)
target_link_options(e2e_tests PRIVATE -static)
add_dependencies(e2e_tests RemoteUpdater sample_msi sample_run sample_trust_root sample_apply_update
  test_publisher_packages planted_library)

# The feeds the service's downloads are tested with (road/package/test_publisher.cmake).
add_dependencies(e2e_tests test_publisher_feeds)

# A library that marks where it was loaded, planted beside the updater under
# the names of system libraries.
add_library(planted_library SHARED tests/e2e/planted_library.c)
set_target_properties(planted_library PROPERTIES PREFIX "")
target_link_options(planted_library PRIVATE -static -s)
list(APPEND TEST_ENVIRONMENT "PLANTED_LIBRARY=$<TARGET_FILE:planted_library>")
# The cases that run long, with their costs, so that they start first.
set(E2E_TEST_COSTS
  # twenty updates in a row
  e2e.SoakOfUpdatesInARow 3000
  # an update killed and a new one completed, at three moments
  e2e.NewUpdateCompletesAfterInstallerModeWasKilled 2000
  # the UI waits 8 s before it starts the watcher
  e2e.UiThatIsSlowToStartTheWatcherStillRelaunches 1000
  # the stop is given its 30 s
  e2e.ServiceThatWillNotStopStopsTheUpdateBeforeAnythingChanges 1000
  # the start is given its 30 s
  e2e.ServiceThatWillNotStartAfterwardsIsReportedWithTheInstallation 1000
  # the second client waits out the first one's deadline
  e2e.ClientThatNeverReadsHoldsThePipeOnlyUntilItsDeadline 1000
  # a service stopped twice, once waiting out its bound for the pipe's thread
  e2e.StopEndsWhateverHoldsThePipe 1000
  # a whole update
  e2e.UpdateCompletesWhenTheClientThatStartsItNeverReads 1000
  # installer mode gives the service's start its 30 s, then the guardian starts it
  e2e.ServiceThatFailsItsRestartAfterAGoodInstallationRunsAgain 1000
  # the pipe waits out its bound on a request whose work never ends
  e2e.ServiceThatNeverAnswersTimesOut 1000)
add_listed_gtests(e2e_tests CASE e2e. COSTS ${E2E_TEST_COSTS} RUN
  ${CMAKE_SOURCE_DIR}/scripts/wine-run --sample ${CMAKE_BINARY_DIR}/sample ${WINE_TEMPLATE}
  $<TARGET_FILE:e2e_tests>)

# What the updater loads before it locks the library search, read from a Wine
# trace of an empty command line and of a whole installer-mode run.
add_test(NAME e2e.LibraryLoadOrder
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/windows/check_load_order.py
          ${CMAKE_SOURCE_DIR} $<TARGET_FILE:RemoteUpdater> ${CMAKE_BINARY_DIR}/sample ${WINE_TEMPLATE})
set_tests_properties(e2e.LibraryLoadOrder PROPERTIES TIMEOUT 600)

# The benchmark, once with one round on this build: it fails only when a figure
# is missing, never on a time.
add_test(NAME e2e.Bench
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/bench --prebuilt --rounds 1 ${CMAKE_BINARY_DIR})
set_tests_properties(e2e.Bench PROPERTIES TIMEOUT 600 COST 1000)
