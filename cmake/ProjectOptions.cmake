# Compiler settings shared by every target of the project.

add_library(ondrake_options INTERFACE)
target_compile_options(ondrake_options INTERFACE -Wall -Wextra)
if(ONDRAKE_WERROR)
  target_compile_options(ondrake_options INTERFACE -Werror)
endif()

if(ONDRAKE_SANITIZE)
  # clang 14 cannot emit -fsanitize=function checks for split coroutine frames
  # ("Cannot represent a difference across sections"), so that one check is left out.
  set(ondrake_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    list(APPEND ondrake_sanitizers -fno-sanitize=function)
  endif()
  add_compile_options(${ondrake_sanitizers})
  add_link_options(-fsanitize=address,undefined)
endif()

# Attach the project's warnings to a target.
function(ondrake_target target)
  target_link_libraries(${target} PRIVATE ondrake_options)
endfunction()

# A GoogleTest executable registered with CTest, one CTest entry per test case; PREFIX goes before
# each test's name (for a second build of the same tests).
function(ondrake_test name)
  if(NOT ONDRAKE_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "PREFIX" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  ondrake_target(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ondrake_test_support GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    ONDRAKE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ONDRAKE_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 30 NO_PRETTY_VALUES
    TEST_PREFIX "${ARG_PREFIX}")
endfunction()

# A Google Benchmark executable; `make bench` runs every one of them.
function(ondrake_bench name)
  if(NOT ONDRAKE_BUILD_BENCH)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  ondrake_target(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
  set_property(GLOBAL APPEND PROPERTY ONDRAKE_BENCHMARKS ${name})
endfunction()
