# vestrel_test(NAME SOURCES ... LIBS ... [LABELS ...] [ENV VAR=VALUE] [FIXTURES name ...] [NO_MAIN])
# One GoogleTest executable; every TEST becomes a ctest test (on Windows run through Wine by the
# toolchain's emulator). FIXTURES names ctest fixtures the tests require, e.g. a loopback server.
include(GoogleTest)
enable_testing()

function(vestrel_test name)
    cmake_parse_arguments(T "NO_MAIN" "" "SOURCES;LIBS;LABELS;ENV;FIXTURES" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
    if(T_NO_MAIN)
        target_link_libraries(${name} PRIVATE ${T_LIBS} vestrel_gtest)
    else()
        target_link_libraries(${name} PRIVATE ${T_LIBS} vestrel_gtest_main)
    endif()
    # Where fixture servers leave their URLs (tests/support/test_server.h). A compile definition, not an
    # environment entry: gtest_discover_tests keeps only the first item of a list-valued ENVIRONMENT.
    target_compile_definitions(${name} PRIVATE VESTREL_FIXTURES_DIR="${CMAKE_BINARY_DIR}/fixtures")
    set(props LABELS "${VESTREL_PLATFORM};${T_LABELS}")
    list(LENGTH T_ENV env_count)
    if(env_count GREATER 1)
        message(FATAL_ERROR "vestrel_test(${name}): one ENV entry at most (test discovery drops the rest)")
    endif()
    if(T_ENV)
        list(APPEND props ENVIRONMENT "${T_ENV}")
    endif()
    if(T_FIXTURES)
        list(APPEND props FIXTURES_REQUIRED "${T_FIXTURES}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 TEST_PREFIX "${name}."
        PROPERTIES ${props})
endfunction()

# vestrel_server_fixture(NAME COMMAND cmd args...)
# A ctest fixture that starts a loopback server before the tests that require NAME and stops it after.
# The server must print "listening on http://127.0.0.1:PORT" as its first line; its URL is written to
# ${CMAKE_BINARY_DIR}/fixtures/NAME.url, which tests read through tests/support/test_server.h.
function(vestrel_server_fixture name)
    cmake_parse_arguments(F "" "" "COMMAND" ${ARGN})
    set(url_file "${CMAKE_BINARY_DIR}/fixtures/${name}.url")
    add_test(NAME fixture.${name}.start
        COMMAND "${CMAKE_SOURCE_DIR}/cmake/test-server" start "${url_file}" ${F_COMMAND})
    add_test(NAME fixture.${name}.stop COMMAND "${CMAKE_SOURCE_DIR}/cmake/test-server" stop "${url_file}")
    set_tests_properties(fixture.${name}.start PROPERTIES FIXTURES_SETUP ${name} LABELS fixture)
    set_tests_properties(fixture.${name}.stop PROPERTIES FIXTURES_CLEANUP ${name} LABELS fixture)
    set(VESTREL_FIXTURE_${name}_URL_FILE "${url_file}" PARENT_SCOPE)
endfunction()

# vestrel_fuzz(NAME SOURCES ... LIBS ... CORPUS dir)
# A libFuzzer target (clang, VESTREL_FUZZ); ctest replays every file of the seed corpus once through it.
# Without VESTREL_FUZZ nothing is built.
function(vestrel_fuzz name)
    cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
    if(NOT VESTREL_FUZZ OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        return()
    endif()
    add_executable(${name} ${F_SOURCES})
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    file(GLOB seeds "${F_CORPUS}/*")
    add_test(NAME fuzz.${name}.seeds COMMAND ${name} -runs=0 ${seeds})
    set_tests_properties(fuzz.${name}.seeds PROPERTIES LABELS "fuzz;${VESTREL_PLATFORM}")
endfunction()
