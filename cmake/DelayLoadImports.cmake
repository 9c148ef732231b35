# Libraries linked delay-loaded, so that they, and the libraries they pull in, load only after
# the program has restricted the search to System32: a load-time import is resolved from the
# program's own folder first, and none of these is a known DLL that Windows takes from System32
# whatever the folder holds. Each import library is made from a .def file (cmake/delayload/)
# naming the functions used; linked where the plain one would be, it resolves them first.
#   shell32, user32: the updater's, which restricts the search in a TLS callback (main.cpp);
#   bcrypt, crypt32, msi, winhttp, wintrust: the road's, whose service restricts it first in wmain.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delayload)
set(delay_load_import_libraries "")
foreach(library shell32 user32 bcrypt crypt32 msi winhttp wintrust)
  set(definitions ${CMAKE_SOURCE_DIR}/cmake/delayload/${library}.def)
  set(import_library ${CMAKE_BINARY_DIR}/delayload/lib${library}_delay.a)
  add_custom_command(OUTPUT ${import_library}
    # A fixed temporary prefix: the default one holds dlltool's process id.
    COMMAND ${MINGW_DLLTOOL} -d ${definitions} -y ${import_library} -t ${library}_delay
    DEPENDS ${definitions}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/delayload VERBATIM)
  set(${library}_delay_import ${import_library})
  list(APPEND delay_load_import_libraries ${import_library})
endforeach()
add_custom_target(delay_load_import_libraries DEPENDS ${delay_load_import_libraries})
set(delay_load_libraries ${shell32_delay_import} ${user32_delay_import})
add_dependencies(updater_core delay_load_import_libraries)
target_link_libraries(updater_core PUBLIC kernel32 advapi32 ${delay_load_libraries})
