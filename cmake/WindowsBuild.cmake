# Windows build: RemoteUpdater.exe, the road and the sample product, and the tests that run
# under Wine. One job a file, in the order they build on one another.
include(cmake/CrossCompilerCache.cmake)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

include(cmake/WindowsCompileOptions.cmake)
include(cmake/DelayLoadImports.cmake)
include(cmake/UpdaterExecutable.cmake)

# Everything but the updater is compiled a few files to a unit (CMake's unity build): most of
# a unit's time goes to the Windows, standard and test headers, which a unit of eight files
# compiles once instead of eight times. The updater's own library and executable, declared
# before, are compiled file by file, so that their bytes do not depend on how files are
# grouped; GoogleTest is one file already. The static analysis, which reads each file's own
# compile command, configures without it.
option(CORVANTA_UNITY_BUILD "Compile the road, the sample, the tools and the tests in units of eight files" ON)
set(CMAKE_UNITY_BUILD ${CORVANTA_UNITY_BUILD})

# The update road, the sample product on top of it, and the drivers on top of both.
add_subdirectory(road)
add_subdirectory(sample)
add_subdirectory(tools)

set(CMAKE_UNITY_BUILD OFF)
include(cmake/WindowsGoogleTest.cmake)
set(CMAKE_UNITY_BUILD ${CORVANTA_UNITY_BUILD})
include(cmake/WineTests.cmake)
include(cmake/WindowsTests.cmake)
include(cmake/ExecutableTests.cmake)
include(cmake/EndToEndTests.cmake)
# The README's demo runs once, from scripts/test, on the Windows build folder.
