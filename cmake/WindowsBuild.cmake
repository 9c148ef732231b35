# Windows build: RemoteUpdater.exe, the road and the sample product, and the tests that run
# under Wine. One job a file, in the order they build on one another.
include(cmake/CrossCompilerCache.cmake)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

include(cmake/WindowsCompileOptions.cmake)
include(cmake/DelayLoadImports.cmake)
include(cmake/UpdaterExecutable.cmake)

# The update road, the sample product on top of it, and the drivers on top of both.
add_subdirectory(road)
add_subdirectory(sample)
add_subdirectory(tools)

include(cmake/WindowsGoogleTest.cmake)
include(cmake/WineTests.cmake)
include(cmake/WindowsTests.cmake)
include(cmake/ExecutableTests.cmake)
include(cmake/EndToEndTests.cmake)
# The README's demo runs once, from scripts/test, on the Windows build folder.
