# The dependencies of the libc++ build (the `libcxx` preset, ONDRAKE_LIBCXX): clang against libc++,
# the C++ library the product ships with on macOS. Debian's GoogleTest, Boost.JSON and Google
# Benchmark libraries are built against libstdc++, whose std::string and friends a libc++ program
# cannot link with, so this build compiles GoogleTest and Boost.JSON itself from their installed
# sources (Debian's googletest package, Boost.JSON's header-only form) with its own compiler and
# flags. Google Benchmark ships no sources: the benchmarks are compiled but not linked
# (ondrake_bench). ICU is reached through its C API, which links with either library.

find_package(Boost 1.81 REQUIRED CONFIG)
if(ONDRAKE_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()

# Boost.JSON's compiled part, built from its header-only form (<boost/json/src.hpp>, one
# translation unit), standing in for the installed library wherever a target links Boost::json.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/boost_json.cpp CONTENT "#include <boost/json/src.hpp>\n")
add_library(ondrake_libcxx_boost_json STATIC ${CMAKE_BINARY_DIR}/boost_json.cpp)
target_link_libraries(ondrake_libcxx_boost_json PUBLIC Boost::headers)
add_library(Boost::json ALIAS ondrake_libcxx_boost_json)

if(ONDRAKE_BUILD_TESTS)
  set(ONDRAKE_GOOGLETEST_SOURCE_DIR /usr/src/googletest/googletest CACHE PATH
    "GoogleTest's sources, built by the libc++ build (Debian's googletest package)")
  if(NOT EXISTS ${ONDRAKE_GOOGLETEST_SOURCE_DIR}/src/gtest-all.cc)
    message(FATAL_ERROR "ONDRAKE_LIBCXX needs GoogleTest's sources in ${ONDRAKE_GOOGLETEST_SOURCE_DIR} "
                        "(Debian's googletest package): run scripts/install-toolchain-deps.sh")
  endif()
  # gtest-all.cc is GoogleTest's own one-file build of its library. Its headers come in as system
  # headers, as the installed ones do, so that our warnings judge only our code.
  add_library(ondrake_libcxx_gtest STATIC ${ONDRAKE_GOOGLETEST_SOURCE_DIR}/src/gtest-all.cc)
  target_include_directories(ondrake_libcxx_gtest SYSTEM PUBLIC ${ONDRAKE_GOOGLETEST_SOURCE_DIR}/include)
  target_include_directories(ondrake_libcxx_gtest PRIVATE ${ONDRAKE_GOOGLETEST_SOURCE_DIR})
  target_link_libraries(ondrake_libcxx_gtest PUBLIC Threads::Threads)
  add_library(ondrake_libcxx_gtest_main STATIC ${ONDRAKE_GOOGLETEST_SOURCE_DIR}/src/gtest_main.cc)
  target_link_libraries(ondrake_libcxx_gtest_main PUBLIC ondrake_libcxx_gtest)
  add_library(GTest::gtest ALIAS ondrake_libcxx_gtest)
  add_library(GTest::gtest_main ALIAS ondrake_libcxx_gtest_main)
endif()

# Every header of ours compiled on its own, with the transitive includes of libc++ left out: a
# header that relies on what its includers happened to include before it fails here. (The Apple
# SDK stand-in is compiled by scripts/check-apple-sources.py, against the headers it stands in for.)
file(GLOB_RECURSE ondrake_headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}
  ${PROJECT_SOURCE_DIR}/*.hpp ${PROJECT_SOURCE_DIR}/*.h)
list(FILTER ondrake_headers EXCLUDE REGEX "^(build[^/]*|scripts/apple-sdk-stand-in|.*node_modules)/")
set(ondrake_header_units)
foreach(header IN LISTS ondrake_headers)
  set(unit ${CMAKE_BINARY_DIR}/header-units/${header}.cpp)
  file(CONFIGURE OUTPUT ${unit} CONTENT "#include \"${header}\"\n")
  list(APPEND ondrake_header_units ${unit})
endforeach()
add_library(ondrake_libcxx_header_units OBJECT ${ondrake_header_units})
ondrake_target(ondrake_libcxx_header_units)
target_include_directories(ondrake_libcxx_header_units PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(ondrake_libcxx_header_units PRIVATE ONDRAKE_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
target_link_libraries(ondrake_libcxx_header_units PRIVATE Boost::headers ICU::uc Threads::Threads
  $<$<BOOL:${ONDRAKE_BUILD_TESTS}>:GTest::gtest> $<$<BOOL:${ONDRAKE_BUILD_BENCH}>:benchmark::benchmark>)
