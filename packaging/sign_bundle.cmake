# Install-time step of the "bundle" component on macOS: signs what the component laid out,
# innermost code first. Set by the install rules before this runs: ONDRAKE_HOST_ENTITLEMENTS,
# ONDRAKE_SAFARI_ENTITLEMENTS, ONDRAKE_CONFIGURED_IDENTITY.
#
# The identity is taken from the environment at install time (CODESIGN_IDENTITY), else from the
# configured ONDRAKE_CODESIGN_IDENTITY; "-" signs ad hoc. A real identity also gets the hardened
# runtime and a secure timestamp, which notarisation requires and an ad-hoc signature cannot carry.

set(identity "$ENV{CODESIGN_IDENTITY}")
if(identity STREQUAL "")
  set(identity "${ONDRAKE_CONFIGURED_IDENTITY}")
endif()
if(identity STREQUAL "")
  set(identity "-")
endif()
set(release_options)
if(NOT identity STREQUAL "-")
  set(release_options --options runtime --timestamp)
endif()

set(contents "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/Contents")
set(appex "${contents}/PlugIns/OndrakeSafariExtension.appex")
set(host "${contents}/MacOS/ondrake-native-host")

message(STATUS "Signing (${identity}): ${appex}")
execute_process(
  COMMAND codesign --force --sign "${identity}" ${release_options}
          --identifier com.ondrake.download.SafariExtension
          --entitlements "${ONDRAKE_SAFARI_ENTITLEMENTS}"
          "${appex}"
  COMMAND_ERROR_IS_FATAL ANY)

message(STATUS "Signing (${identity}): ${host}")
execute_process(
  COMMAND codesign --force --sign "${identity}" ${release_options}
          --entitlements "${ONDRAKE_HOST_ENTITLEMENTS}"
          "${host}"
  COMMAND_ERROR_IS_FATAL ANY)
