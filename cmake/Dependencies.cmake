# Installed libraries only; nothing is downloaded at build time.
# scripts/install-deps.sh installs them (apt-get on Debian/Ubuntu, Homebrew on macOS).

find_package(ICU REQUIRED COMPONENTS uc data)
find_package(Threads REQUIRED)
if(ONDRAKE_LIBCXX)
  include(cmake/Libcxx.cmake)
else()
  find_package(Boost 1.81 REQUIRED CONFIG COMPONENTS json)
  if(ONDRAKE_BUILD_TESTS)
    find_package(GTest REQUIRED)
  endif()
  if(ONDRAKE_BUILD_BENCH)
    find_package(benchmark REQUIRED)
  endif()
endif()
if(ONDRAKE_STATIC_HOST)
  include(cmake/StaticIcu.cmake)
endif()
