# Install-time step of the "bundle" component, before anything is laid out: chooses the Safari web
# extension's resource directory and refuses one that Safari could not load. Safari loads a web
# extension's manifest.json and scripts from the .appex's Contents/Resources; without them it never
# reaches our handler. Set by the install rules before this runs: ONDRAKE_DEFAULT_WEB_EXTENSION.
#
# The directory is taken from the environment at install time (ONDRAKE_WEB_EXTENSION, which
# `make bundle WEB_EXTENSION=...` sets; relative to the working directory), else the reference
# extension of this repository. Sets ONDRAKE_WEB_EXTENSION_DIR for the copying step. Checked on
# every platform, although only macOS lays out the .appex, so that a wrong directory shows first.

set(ONDRAKE_WEB_EXTENSION_DIR "$ENV{ONDRAKE_WEB_EXTENSION}")
if(ONDRAKE_WEB_EXTENSION_DIR STREQUAL "")
  set(ONDRAKE_WEB_EXTENSION_DIR "${ONDRAKE_DEFAULT_WEB_EXTENSION}")
endif()
get_filename_component(ONDRAKE_WEB_EXTENSION_DIR "${ONDRAKE_WEB_EXTENSION_DIR}" ABSOLUTE
  BASE_DIR "$ENV{PWD}")

set(manifest "${ONDRAKE_WEB_EXTENSION_DIR}/manifest.json")
if(NOT IS_DIRECTORY "${ONDRAKE_WEB_EXTENSION_DIR}")
  message(FATAL_ERROR "the web extension directory ${ONDRAKE_WEB_EXTENSION_DIR} does not exist")
endif()
if(NOT EXISTS "${manifest}" OR IS_DIRECTORY "${manifest}")
  message(FATAL_ERROR "the web extension directory ${ONDRAKE_WEB_EXTENSION_DIR} has no manifest.json: "
                      "Safari could not load the extension")
endif()
file(READ "${manifest}" manifest_text)
string(JSON manifest_version ERROR_VARIABLE manifest_error GET "${manifest_text}" manifest_version)
if(manifest_error)
  message(FATAL_ERROR "${manifest} is no web extension manifest: ${manifest_error}")
endif()
message(STATUS "Web extension resources: ${ONDRAKE_WEB_EXTENSION_DIR}")
