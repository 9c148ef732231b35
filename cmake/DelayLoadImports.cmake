# The updater's library links shell32 and user32 delay-loaded, so that they, and the
# libraries they pull in, load only after wWinMain has restricted the search to System32: a
# load-time import is resolved from the program's own folder first. Each import library is
# made from a .def file (cmake/delayload/) naming the functions used; it comes before the
# compiler's default libraries on the link line, so it wins.
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
