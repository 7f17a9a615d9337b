# Compiler settings shared by every target of the project.

add_library(ondrake_options INTERFACE)
# Third-party headers (Boost, ICU, GoogleTest, benchmark) come in as system headers, so these
# warnings judge only our code. The last three have no meaning for C.
target_compile_options(ondrake_options INTERFACE
  -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion -Wimplicit-fallthrough
  $<$<COMPILE_LANGUAGE:CXX,OBJCXX>:-Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual>)
if(ONDRAKE_WERROR)
  target_compile_options(ondrake_options INTERFACE -Werror)
endif()
# libc++ leaves out the headers its headers include only for compatibility, as newer releases do
# by default: a file that uses a name without including its header fails here.
if(ONDRAKE_LIBCXX)
  target_compile_definitions(ondrake_options INTERFACE _LIBCPP_REMOVE_TRANSITIVE_INCLUDES)
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

# A Google Benchmark executable; `make bench` runs every one of them. The libc++ build compiles it
# without linking: the installed Google Benchmark is a libstdc++ build (cmake/Libcxx.cmake).
function(ondrake_bench name)
  if(NOT ONDRAKE_BUILD_BENCH)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(ONDRAKE_LIBCXX)
    add_library(${name} OBJECT ${ARG_SOURCES})
  else()
    add_executable(${name} ${ARG_SOURCES})
  endif()
  ondrake_target(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
  set_property(GLOBAL APPEND PROPERTY ONDRAKE_BENCHMARKS ${name})
endfunction()

# Every library `target` links, directly or through others, into the variable `out`.
function(ondrake_linked_libraries target out)
  set(seen "")
  set(pending ${target})
  while(pending)
    list(POP_FRONT pending current)
    if(NOT TARGET ${current})
      continue()
    endif()
    get_target_property(aliased ${current} ALIASED_TARGET)
    if(aliased)
      set(current ${aliased})
    endif()
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(libraries ${current} ${property})
      if(libraries)
        foreach(library IN LISTS libraries)
          # $<LINK_ONLY:x> is how a static library's private dependency reaches its users.
          string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" library "${library}")
          list(APPEND pending ${library})
        endforeach()
      endif()
    endforeach()
  endwhile()
  list(REMOVE_ITEM seen ${target})
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# Fails the configuration when `target` links one of the libraries after FORBIDDEN, however
# indirectly: the include-graph check keeps the sources apart, this keeps the binaries apart.
function(ondrake_forbid_links target)
  cmake_parse_arguments(ARG "" "" "FORBIDDEN" ${ARGN})
  if(NOT TARGET ${target})
    return()
  endif()
  ondrake_linked_libraries(${target} linked)
  foreach(library IN LISTS ARG_FORBIDDEN)
    if(library IN_LIST linked)
      message(FATAL_ERROR "${target} must not link ${library}, but links: ${linked}")
    endif()
  endforeach()
endfunction()
