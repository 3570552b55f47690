# The test suite (tests/), the benchmarks (bench/) and the programs of the end-to-end test machine.

if(CANTORA_BUILD_TESTS)
    enable_testing()
    add_subdirectory(tests)
endif()

# The benchmarks measure windows on an X server.
if(CANTORA_BUILD_TESTS AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
    add_subdirectory(bench)
endif()

if(CANTORA_BUILD_E2E)
    add_subdirectory(tools/e2e)
endif()
