# Writes the ctest entries of a GoogleTest program from the program's own list
# of its tests, so that every test it holds runs and none is found by reading
# sources. Run after each link as `cmake -DSETTINGS=<file> -P ListedTests.cmake`;
# the settings file (written by add_listed_gtests) sets:
#   list_command  the program, with the emulator that runs it
#   run_command   what an entry runs, before its --gtest_filter
#   group         SUITE: one entry per test suite; CASE: one per test case
#   prefix        the start of each entry's name
#   properties    the entries' test properties, as set_tests_properties takes them
#   entries       the file to write
#   costs         <entry name> <cost> pairs: the entries that run long, and the COST
#                 each gets so that ctest starts it before the others
cmake_minimum_required(VERSION 3.25)
include(${SETTINGS})
# A failed listing leaves no entries behind, only the placeholder that fails.
file(REMOVE ${entries})

# The program writes its list as JSON: test names may hold any character.
get_filename_component(list_file "${entries}.json" ABSOLUTE)
file(REMOVE ${list_file})
execute_process(
  COMMAND ${list_command} --gtest_list_tests "--gtest_output=json:Z:${list_file}"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0 OR NOT EXISTS ${list_file})
  message(FATAL_ERROR "Listing the tests of ${list_command} failed (${status}):\n${output}")
endif()
file(READ ${list_file} listing)

function(bracket text out)
  set(${out} "[==[${text}]==]" PARENT_SCOPE)
endfunction()

set(quoted_command "")
foreach(argument IN LISTS run_command)
  bracket("${argument}" quoted)
  string(APPEND quoted_command " ${quoted}")
endforeach()

set(content "")
set(count 0)
set(costed_entries "")
macro(add_entry name filter)
  bracket("${prefix}${name}" quoted_name)
  bracket("--gtest_filter=${filter}" quoted_filter)
  set(cost "")
  list(FIND costs "${prefix}${name}" at)
  if(NOT at EQUAL -1)
    math(EXPR at "${at} + 1")
    list(GET costs ${at} cost)
    set(cost " COST ${cost}")
    list(APPEND costed_entries "${prefix}${name}")
  endif()
  string(APPEND content "add_test(${quoted_name}${quoted_command} ${quoted_filter})\n"
                        "set_tests_properties(${quoted_name} PROPERTIES ${properties}${cost})\n")
  math(EXPR count "${count} + 1")
endmacro()

string(JSON suites GET "${listing}" testsuites)
string(JSON suite_count LENGTH "${suites}")
if(suite_count EQUAL 0)
  message(FATAL_ERROR "${list_command} lists no tests")
endif()
math(EXPR last_suite "${suite_count} - 1")
foreach(s RANGE ${last_suite})
  string(JSON suite GET "${suites}" ${s} name)
  string(JSON cases GET "${suites}" ${s} testsuite)
  string(JSON case_count LENGTH "${cases}")
  math(EXPR last_case "${case_count} - 1")
  if(group STREQUAL "SUITE")
    add_entry("${suite}" "${suite}.*")
  else()
    foreach(c RANGE ${last_case})
      string(JSON case GET "${cases}" ${c} name)
      add_entry("${case}" "${suite}.${case}")
    endforeach()
  endif()
endforeach()

# A cost whose test was renamed or removed would be lost without a word.
set(named_entries "")
foreach(name IN LISTS costs)
  if(NOT name MATCHES "^[0-9]+$" AND NOT name IN_LIST costed_entries)
    list(APPEND named_entries "${name}")
  endif()
endforeach()
if(named_entries)
  list(GET list_command -1 program)
  message(FATAL_ERROR "Costs are given for tests that ${program} does not hold: ${named_entries}")
endif()
file(WRITE ${entries} "${content}")
