# How the Windows test programs run under Wine, each run in a prefix of its own copied from
# a template prefix, and how their ctest entries are made.
set(WINE_TEMPLATE ${CMAKE_BINARY_DIR}/wine-template)
set(WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run ${WINE_TEMPLATE})
set(TEST_ENVIRONMENT
  "REMOTEUPDATER_EXE=$<TARGET_FILE:RemoteUpdater>;CORVANTA_SAMPLE_DIR=${CMAKE_BINARY_DIR}/sample")

# add_listed_gtests(<target> SUITE|CASE <prefix> [COSTS <entry> <cost>...] RUN <command...>)
# The ctest entries of a test program come from its own list of tests, taken under Wine
# after each link (cmake/ListedTests.cmake): a test added to the sources runs without any
# change here. Each entry runs the command with a filter for one test suite (SUITE) or one
# test case (CASE). The entries named under COSTS run long: each gets its cost, so that
# they start before the others when tests run side by side and the last to end does not
# start last; on later runs ctest orders them by the times it measured. A cost named for an
# entry that the program does not hold fails the listing.
function(add_listed_gtests target group prefix)
  cmake_parse_arguments(PARSE_ARGV 3 listed "" "" "COSTS;RUN")
  set(settings ${CMAKE_BINARY_DIR}/${target}-listing.cmake)
  set(entries ${CMAKE_BINARY_DIR}/${target}-entries.cmake)
  set(run_command "")
  foreach(argument IN LISTS listed_RUN)
    string(APPEND run_command " [==[${argument}]==]")
  endforeach()
  file(GENERATE OUTPUT ${settings} CONTENT "\
set(list_command [==[${CMAKE_SOURCE_DIR}/scripts/wine-run]==] [==[${WINE_TEMPLATE}]==] [==[$<TARGET_FILE:${target}>]==])
set(run_command${run_command})
set(group ${group})
set(prefix [==[${prefix}]==])
set(properties [===[ENVIRONMENT [==[${TEST_ENVIRONMENT}]==] TIMEOUT 600 WORKING_DIRECTORY [==[${CMAKE_BINARY_DIR}]==]]===])
set(costs [==[${listed_COSTS}]==])
set(entries [==[${entries}]==])
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
