# Checks of the shipped executable as a file: its PE properties, that a second build
# makes the same bytes, and that a release signed by scripts/sign verifies.
add_test(NAME windows.ExecutableProperties
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/windows/check_pe.py
          $<TARGET_FILE:RemoteUpdater> ${PROJECT_VERSION})
add_test(NAME windows.ReproducibleBuild
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-reproducible ${CMAKE_SOURCE_DIR}
          $<TARGET_FILE:RemoteUpdater>)
set_tests_properties(windows.ReproducibleBuild PROPERTIES TIMEOUT 600 COST 1000)
# With a certificate made for the test.
add_test(NAME windows.SignedExecutable
  COMMAND ${CMAKE_SOURCE_DIR}/tests/windows/check_signing ${CMAKE_SOURCE_DIR}
          $<TARGET_FILE:RemoteUpdater> ${PROJECT_VERSION} ${WINE_TEMPLATE})
set_tests_properties(windows.SignedExecutable PROPERTIES TIMEOUT 300)
