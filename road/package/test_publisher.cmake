# The test build's publisher, pinned by the road (publisher_pins.h), and packages signed by it
# for the tests. Included by road/CMakeLists.txt after corvanta_road is defined.
#
# The publishers are made once per build folder at configure time, by make_test_publisher, into
# <build>/test-publisher: their thumbprint has to be known before the road compiles, and kept
# from one configure to the next, or every reconfigure would build everything again. CMake
# reads publisher.thumbprint and hands it to the road as CORVANTA_TEST_PUBLISHER_THUMBPRINT, a
# public definition, so that every unit that includes publisher_pins.h sees the same pin.
# Removing the folder makes new keys at the next build.
#
# Off unless asked for: the windows preset, which every script and test uses, turns it on; a
# release, configured without it, pins only the release's own certificates, and the configure
# stops when publisher_pins.h pins none, since such a road refuses every package. Should a
# release pin the test publisher by mistake, a package signed by it is still refused on every
# machine whose Root store lacks the test root, that is, every machine but a test prefix.
option(CORVANTA_TEST_PUBLISHER "Pin a publisher made for the tests in the build folder" OFF)

# Stops the configure unless publisher_pins.h pins at least one release certificate, and
# names any pin that is not a thumbprint, which could never match.
function(corvanta_require_release_pin)
  set(header ${CMAKE_CURRENT_LIST_DIR}/publisher_pins.h)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
  file(READ ${header} text)
  if(NOT text MATCHES "kReleasePublisherThumbprints\\[[0-9]*\\] *= *{([^}]*)}")
    message(FATAL_ERROR "${header}: no kReleasePublisherThumbprints[N] = {...} to read")
  endif()
  string(REGEX MATCHALL "L\"[^\"]*\"" places "${CMAKE_MATCH_1}")
  set(pinned 0)
  foreach(place IN LISTS places)
    string(REGEX REPLACE "^L\"(.*)\"$" "\\1" thumbprint "${place}")
    if(thumbprint MATCHES "^[0-9A-Fa-f]+$")
      string(LENGTH "${thumbprint}" digits)
    else()
      set(digits 0)
    endif()
    if(digits EQUAL 40)
      math(EXPR pinned "${pinned} + 1")
    elseif(NOT thumbprint STREQUAL "")
      message(FATAL_ERROR "${header}: the pin \"${thumbprint}\" in kReleasePublisherThumbprints "
                          "is not a SHA-1 thumbprint (40 hexadecimal digits, no spaces)")
    endif()
  endforeach()
  if(pinned EQUAL 0)
    message(FATAL_ERROR
      "No publisher is pinned: CORVANTA_TEST_PUBLISHER is OFF and kReleasePublisherThumbprints "
      "in ${header} is empty, so the service would refuse every package. A release writes its "
      "signing certificates' thumbprints there (scripts/sign --verify prints them); a test "
      "build configures with the windows preset, or with -DCORVANTA_TEST_PUBLISHER=ON.")
  endif()
endfunction()

if(NOT CORVANTA_TEST_PUBLISHER)
  corvanta_require_release_pin()
  return()
endif()

set(CORVANTA_TEST_PUBLISHER_DIR ${CMAKE_BINARY_DIR}/test-publisher)
# The sample signs its packages with the pinned publisher (sample/CMakeLists.txt).
set(CORVANTA_TEST_PUBLISHER_DIR ${CORVANTA_TEST_PUBLISHER_DIR} PARENT_SCOPE)
execute_process(
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/make_test_publisher ${CORVANTA_TEST_PUBLISHER_DIR}
  RESULT_VARIABLE made ERROR_VARIABLE complaint)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "make_test_publisher failed (${made}): ${complaint}")
endif()
set(thumbprint_file ${CORVANTA_TEST_PUBLISHER_DIR}/publisher.thumbprint)
file(STRINGS ${thumbprint_file} test_thumbprint LIMIT_COUNT 1)
if(NOT test_thumbprint MATCHES "^[0-9A-F]+$")
  message(FATAL_ERROR "${thumbprint_file} holds no thumbprint: '${test_thumbprint}'")
endif()
string(LENGTH "${test_thumbprint}" digits)
if(NOT digits EQUAL 40)
  message(FATAL_ERROR "${thumbprint_file} holds ${digits} digits, not 40")
endif()
target_compile_definitions(corvanta_road PUBLIC
  "CORVANTA_TEST_PUBLISHER_THUMBPRINT=L\"${test_thumbprint}\"")
# A removed folder is made again, with new keys, and the road compiled with the new pin.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${thumbprint_file})

# The sample's version 2 package, unsigned as wixl built it, signed through scripts/sign by
# another publisher under the same root and by one under a root that no test trusts. The
# sample signs its own packages with the pinned publisher. The test root is trusted by every
# sample prefix (scripts/sample-prefix), which finds it as sample/trusted-roots/*.der.
set(unsigned_package ${CMAKE_BINARY_DIR}/sample/msi/unsigned/CorvantaRemote-2.0.0.msi)
set(trusted_root ${CMAKE_BINARY_DIR}/sample/trusted-roots/test-root.der)
add_custom_command(OUTPUT ${trusted_root}
  COMMAND ${CMAKE_COMMAND} -E copy ${CORVANTA_TEST_PUBLISHER_DIR}/root.der ${trusted_root}
  DEPENDS ${CORVANTA_TEST_PUBLISHER_DIR}/root.der
  VERBATIM)
set(signed_packages "")
foreach(signer other-publisher stranger)
  set(signed ${CORVANTA_TEST_PUBLISHER_DIR}/signed/CorvantaRemote-2.0.0-${signer}.msi)
  add_custom_command(OUTPUT ${signed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CORVANTA_TEST_PUBLISHER_DIR}/signed
    COMMAND ${CMAKE_COMMAND} -E rm -f ${signed}
    COMMAND ${CMAKE_COMMAND} -E env
            REMOTEUPDATER_SIGN_PKCS12=${CORVANTA_TEST_PUBLISHER_DIR}/${signer}.p12
            REMOTEUPDATER_SIGN_PASSWORD=
            --unset=REMOTEUPDATER_SIGN_TIMESTAMP_URL --unset=REMOTEUPDATER_SIGN_TSA_CERTS
            ${PROJECT_SOURCE_DIR}/scripts/sign --test-signature ${unsigned_package} ${signed}
    DEPENDS ${unsigned_package} ${CORVANTA_TEST_PUBLISHER_DIR}/${signer}.p12
            ${PROJECT_SOURCE_DIR}/scripts/sign
    COMMENT "Signing the version 2 package as ${signer}"
    VERBATIM)
  list(APPEND signed_packages ${signed})
endforeach()
# The updater signed by the pinned publisher: the tests change a byte of a copy, since Wine
# finds a changed executable, though not a changed package.
set(signed_updater ${CORVANTA_TEST_PUBLISHER_DIR}/signed/RemoteUpdater.exe)
add_custom_command(OUTPUT ${signed_updater}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CORVANTA_TEST_PUBLISHER_DIR}/signed
  COMMAND ${CMAKE_COMMAND} -E rm -f ${signed_updater}
  COMMAND ${CMAKE_COMMAND} -E env
          REMOTEUPDATER_SIGN_PKCS12=${CORVANTA_TEST_PUBLISHER_DIR}/publisher.p12
          REMOTEUPDATER_SIGN_PASSWORD=
          --unset=REMOTEUPDATER_SIGN_TIMESTAMP_URL --unset=REMOTEUPDATER_SIGN_TSA_CERTS
          ${PROJECT_SOURCE_DIR}/scripts/sign --test-signature $<TARGET_FILE:RemoteUpdater>
          ${signed_updater}
  DEPENDS RemoteUpdater ${CORVANTA_TEST_PUBLISHER_DIR}/publisher.p12
          ${PROJECT_SOURCE_DIR}/scripts/sign
  COMMENT "Signing the updater as the test publisher"
  VERBATIM)
list(APPEND signed_packages ${signed_updater})
# Part of every build: the Windows tests read them, and the road knows no test target.
add_custom_target(test_publisher_packages ALL DEPENDS ${signed_packages} ${trusted_root})
add_dependencies(test_publisher_packages sample_demo_msi)

# Feeds published with scripts/publish as a release publishes one, and a few that a machine
# must refuse (tests/feed_server/make_test_feeds): the signature tests, the feed server's test
# and the end-to-end tests read feeds/<name>/.
set(test_feeds ${CORVANTA_TEST_PUBLISHER_DIR}/feeds)
set(test_feed_files "")
foreach(feed good other stranger expired series)
  list(APPEND test_feed_files ${test_feeds}/${feed}/feed.json.p7s)
endforeach()
set(sample_msi_dir ${CMAKE_BINARY_DIR}/sample/msi)
add_custom_command(OUTPUT ${test_feed_files}
  COMMAND ${PROJECT_SOURCE_DIR}/tests/feed_server/make_test_feeds ${CORVANTA_TEST_PUBLISHER_DIR}
          ${sample_msi_dir}/CorvantaRemote-2.0.0.msi ${test_feeds}
  DEPENDS ${PROJECT_SOURCE_DIR}/tests/feed_server/make_test_feeds
          ${PROJECT_SOURCE_DIR}/scripts/publish ${PROJECT_SOURCE_DIR}/scripts/lib/feed.py
          ${CORVANTA_TEST_PUBLISHER_DIR}/publisher.p12 ${sample_msi_dir}/CorvantaRemote-2.0.0.msi
          ${sample_msi_dir}/CorvantaRemote-2.0.1.msi ${sample_msi_dir}/CorvantaRemote-3.0.0.msi
  COMMENT "Publishing the test feeds"
  VERBATIM)
add_custom_target(test_publisher_feeds ALL DEPENDS ${test_feed_files})
add_dependencies(test_publisher_feeds sample_msi)
