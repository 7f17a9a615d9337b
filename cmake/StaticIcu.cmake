# ICU from its static archives, for the host executable (a shared ICU costs more at start-up than
# everything else the host does for one message). In place of libicudata.a, which carries every
# locale, converter, collation and break table (31 MB), the host links a data package holding only
# the items the URL library loads (whatwg-url/icu-data/), cut from the installed ICU by ICU's own
# tools, icupkg and genccode (Debian's icu-devtools, Homebrew's icu4c).

get_filename_component(ondrake_icu_dir "${ICU_UC_LIBRARY}" DIRECTORY)
set(ondrake_icu_hints "${ondrake_icu_dir}" "$ENV{ICU_ROOT}/lib" "${ICU_ROOT}/lib")
find_library(ONDRAKE_ICUUC_ARCHIVE NAMES libicuuc.a HINTS ${ondrake_icu_hints})
find_library(ONDRAKE_ICUDATA_ARCHIVE NAMES libicudata.a HINTS ${ondrake_icu_hints})
set(ondrake_icu_tool_hints "$ENV{ICU_ROOT}/sbin" "$ENV{ICU_ROOT}/bin" "${ICU_ROOT}/sbin" "${ICU_ROOT}/bin")
find_program(ONDRAKE_ICUPKG icupkg HINTS ${ondrake_icu_tool_hints} PATHS /usr/sbin /usr/local/sbin)
find_program(ONDRAKE_GENCCODE genccode HINTS ${ondrake_icu_tool_hints} PATHS /usr/sbin /usr/local/sbin)
foreach(needed ONDRAKE_ICUUC_ARCHIVE ONDRAKE_ICUPKG ONDRAKE_GENCCODE)
  if(NOT ${needed})
    message(FATAL_ERROR "ONDRAKE_STATIC_HOST needs ${needed} (ICU's static library and its data "
                        "tools, Debian's libicu-dev and icu-devtools): run scripts/install-deps.sh, "
                        "or configure with -DONDRAKE_STATIC_HOST=OFF")
  endif()
endforeach()

# Links `target` with libicuuc.a and the ICU data library `data`. They must come after the
# libraries that use them and before the shared ICU that the imported targets bring along: then
# every symbol resolves from the archives and the linker leaves the shared libraries out.
function(ondrake_link_static_icu target data)
  target_link_libraries(${target} PRIVATE ${ONDRAKE_ICUUC_ARCHIVE} ${data} ${CMAKE_DL_LIBS}
    Threads::Threads)
  if(APPLE)
    target_link_options(${target} PRIVATE LINKER:-dead_strip_dylibs)
  else()
    target_link_options(${target} PRIVATE LINKER:--as-needed)
  endif()
endfunction()
