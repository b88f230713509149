# Common settings for the project's own targets: strict warnings, Qt hygiene.
function(nx7_target_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# nx7_library(name SOURCES ... DEPS ...)
function(nx7_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    nx7_target_defaults(${name})
endfunction()

# nx7_test(name LABEL label SOURCES ... DEPS ...): one GoogleTest program with the shared test main,
# registered with ctest.
function(nx7_test name)
    cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} nx7_test_main nx7_test_support GTest::gtest GTest::gmock)
    nx7_target_defaults(${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    if(NX7_TEST_TIMEOUT_SCALE)
        math(EXPR ARG_TIMEOUT "${ARG_TIMEOUT} * ${NX7_TEST_TIMEOUT_SCALE}")
    endif()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;NX7_BUILD_DIR=${PROJECT_BINARY_DIR}")
endfunction()
