# The Debian package. `cpack -G DEB` in the build folder makes murvecolor_VERSION_ARCH.deb of
# what `cmake --install` installs, with /usr as its prefix. Its version is the project's.

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

set(MURVECOLOR_PACKAGE_MAINTAINER "murvecolor maintainers <maintainers@murvecolor.invalid>"
    CACHE STRING "The Maintainer field of the Debian package, as: Name <address>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME murvecolor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${MURVECOLOR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "write colour settings into a MURVE Pro over its serial console")
set(CPACK_PACKAGE_DESCRIPTION
    "murvecolor writes colour settings from a plain-text file into the EEPROM of a
MURVE Pro through the device's serial console, with its eepromex command,
then reads them back and prints them as a hex listing for inspection.

The package also holds murvesim, a simulated MURVE Pro console on a
pseudo-terminal, for trying the tool without the device, and an example
settings file that restates the built-in defaults.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: computed by dpkg-shlibdeps from the shared libraries the programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

if(MURVECOLOR_BUILD_TESTS)
  # DebPackage.Builds makes the package the other tests look into and install.
  set(deb_test_dir ${CMAKE_BINARY_DIR}/deb-test)
  set(check_deb ${PROJECT_SOURCE_DIR}/tools/check-deb)
  add_test(NAME DebPackage.Builds
           COMMAND ${check_deb} ${deb_test_dir} build
                   ${CMAKE_CPACK_COMMAND} ${CMAKE_BINARY_DIR}/CPackConfig.cmake)
  set_tests_properties(DebPackage.Builds PROPERTIES FIXTURES_SETUP deb_package TIMEOUT 300)

  add_test(NAME DebPackage.Metadata
           COMMAND ${check_deb} ${deb_test_dir} metadata ${PROJECT_VERSION})
  add_test(NAME DebPackage.Contents COMMAND ${check_deb} ${deb_test_dir} contents)
  add_test(NAME DebPackage.InstalledMurvecolorRunsWithoutArguments
           COMMAND ${check_deb} ${deb_test_dir} runs-without-arguments
                   $<TARGET_FILE:murvecolor>)
  add_test(NAME DebPackage.InstalledProgramsWorkTogether
           COMMAND ${check_deb} ${deb_test_dir} programs-work-together ${PROJECT_VERSION})
  add_test(NAME DebPackage.InstallsAndRemovesCleanly
           COMMAND ${check_deb} ${deb_test_dir} installs-and-removes)
  set_tests_properties(
    DebPackage.Metadata
    DebPackage.Contents
    DebPackage.InstalledMurvecolorRunsWithoutArguments
    DebPackage.InstalledProgramsWorkTogether
    DebPackage.InstallsAndRemovesCleanly
    PROPERTIES FIXTURES_REQUIRED deb_package TIMEOUT 60)
endif()
