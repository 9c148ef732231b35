# Writes the ctest entries of a GoogleTest program from the program's own list
# of its tests, so that every test it holds runs and none is found by reading
# sources. Run after each link as `cmake -DSETTINGS=<file> -P ListedTests.cmake`;
# the settings file (written by add_listed_gtests) sets:
#   list_command  the program, with the emulator that runs it
#   run_command   what an entry runs, before its --gtest_filter
#   group         SUITE: one entry per test suite; CASE: one per test case
#   prefix        the start of each entry's name
#   properties    the entries' test properties, as set_tests_properties takes them
#   source_dir    the folder the test sources' names are relative to
#   entries       the file to write
# A test that runs long says so in the comment right above it, with a line
#   // Runs long: <why>
# and its entry (or its suite's) gets a high COST, so that ctest starts it before
# the others; the program's list gives each test's file and line, so the mark
# holds whatever the test is called.
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

# Sets <out> to the lines of the tests in <file> that the comment right above
# them marks as running long, as "<file>:<line>" items.
set(long_mark "// Runs long:")
function(lines_marked_long file out)
  set(path "${file}")
  if(NOT IS_ABSOLUTE "${path}")
    set(path "${source_dir}/${path}")
  endif()
  file(READ "${path}" text)
  set(marked "")
  set(line 1)
  while(TRUE)
    string(FIND "${text}" "${long_mark}" at)
    if(at EQUAL -1)
      break()
    endif()
    string(SUBSTRING "${text}" 0 ${at} before)
    string(REGEX MATCHALL "\n" breaks "${before}")
    list(LENGTH breaks count)
    math(EXPR line "${line} + ${count}")
    # The mark's line and the rest of its comment: the test starts on the line after.
    string(SUBSTRING "${text}" ${at} -1 text)
    string(REGEX MATCH "^[^\n]*\n([ \t]*//[^\n]*\n)*" comment "${text}")
    string(REGEX MATCHALL "\n" breaks "${comment}")
    list(LENGTH breaks count)
    math(EXPR line "${line} + ${count}")
    list(APPEND marked "${file}:${line}")
    string(LENGTH "${comment}" length)
    string(SUBSTRING "${text}" ${length} -1 text)
  endwhile()
  set(${out} "${marked}" PARENT_SCOPE)
endfunction()

# Whether the test case <s>/<c> of the listing is marked as running long; every
# mark found is kept in all_marks, and each one that stands above a test in used_marks.
set(all_marks "")
set(used_marks "")
set(read_files "")
macro(case_runs_long s c out)
  string(JSON case_file GET "${suites}" ${s} testsuite ${c} file)
  string(JSON case_line GET "${suites}" ${s} testsuite ${c} line)
  if(NOT case_file IN_LIST read_files)
    list(APPEND read_files "${case_file}")
    lines_marked_long("${case_file}" marks)
    list(APPEND all_marks ${marks})
  endif()
  set(${out} FALSE)
  if("${case_file}:${case_line}" IN_LIST all_marks)
    set(${out} TRUE)
    list(APPEND used_marks "${case_file}:${case_line}")
  endif()
endmacro()

set(content "")
set(count 0)
macro(add_entry name filter runs_long)
  bracket("${prefix}${name}" quoted_name)
  bracket("--gtest_filter=${filter}" quoted_filter)
  set(cost "")
  if(${runs_long})
    set(cost " COST 1000")
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
  set(suite_runs_long FALSE)
  foreach(c RANGE ${last_case})
    string(JSON case GET "${cases}" ${c} name)
    case_runs_long(${s} ${c} runs_long)
    if(runs_long)
      set(suite_runs_long TRUE)
    endif()
    if(group STREQUAL "CASE")
      add_entry("${case}" "${suite}.${case}" runs_long)
    endif()
  endforeach()
  if(group STREQUAL "SUITE")
    add_entry("${suite}" "${suite}.*" suite_runs_long)
  endif()
endforeach()

# A mark that stands above no test (a comment between them, the test moved away)
# would be lost without a word.
if(used_marks)
  list(REMOVE_ITEM all_marks ${used_marks})
endif()
if(all_marks)
  message(FATAL_ERROR "A comment with \"${long_mark}\" ends above a line that starts "
    "no test: ${all_marks} (the mark belongs in the comment right above the test)")
endif()
file(WRITE ${entries} "${content}")
