# Warning flags for the project's own targets (never for third-party code).
function(tarnvelox_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror=switch)
    if(TARNVELOX_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# add_core_library(name SOURCES... [DEPS libs...]): one static library per src/ folder.
function(add_core_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    tarnvelox_warnings(${name})
endfunction()

# add_unit_test(name SOURCES... [DEPS libs...] [TIMEOUT seconds]): one GoogleTest program
# registered with ctest. TIMEOUT bounds each of its tests (ctest's default is 1500 s), so that a
# hang fails at once instead of holding the whole run.
function(add_unit_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
    set(timeout_property)
    if(ARG_TIMEOUT)
        set(timeout_property TIMEOUT ${ARG_TIMEOUT})
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
    tarnvelox_warnings(${name})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "ASAN_OPTIONS=allocator_may_return_null=1" ${timeout_property})
endfunction()

# add_bench(name SOURCES... [DEPS libs...]): a Google Benchmark program; never run by ctest.
function(add_bench name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
    tarnvelox_warnings(${name})
endfunction()
