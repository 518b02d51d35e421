# The packages, made by CPack from what `cmake --install` installs:
#  - Linux: `cpack -G DEB` in the build folder makes murvecolor_VERSION-REVISION_ARCH.deb, with
#    /usr as its prefix;
#  - Windows (the windows preset): `cpack -G ZIP` in build-windows makes
#    murvecolor-VERSION-win64.zip, whose one folder holds the programs, the licence, the example
#    settings file with its Japanese-commented twin and a README for Windows in English and one in
#    Japanese.
# VERSION is the project's.

set(CPACK_PACKAGE_NAME murvecolor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME murvecolor-${PROJECT_VERSION}-win64)
  include(CPack)
  return()
elseif(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

set(MURVECOLOR_PACKAGE_MAINTAINER "murvecolor authors <murvecolor@example.org>"
    CACHE STRING "The Maintainer field of the Debian package, as: Name <address>")
# Every new package, of a new version or of the same one with the next revision, gets an entry at
# the top of packaging/changelog.Debian.in (DebPackage.Contents checks that it has).
set(murvecolor_debian_revision 1)
set(murvecolor_debian_version ${PROJECT_VERSION}-${murvecolor_debian_revision})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_CONTACT "${MURVECOLOR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "write colour settings into a MURVE Pro over its serial console")
set(CPACK_PACKAGE_DESCRIPTION
    "murvecolor writes colour settings from a plain-text file into the EEPROM of a
MURVE Pro through the device's serial console, with its eepromex command,
then reads them back and prints them as a hex listing for inspection.

murvedump reads the settings a MURVE Pro holds and saves them as a settings
file that murvecolor writes back, for a backup before changing them.

The package also holds murvesim, a simulated MURVE Pro console on a
pseudo-terminal, for trying the tools without the device, and an example
settings file that restates the built-in defaults, with its comments in
English and, in a second copy, in Japanese. The manual pages come in both
languages too.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${murvecolor_debian_revision})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: computed by dpkg-shlibdeps from the shared libraries the programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What loads the completions in share/bash-completion/completions.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# /usr/share/doc/murvecolor/copyright: LICENSE in Debian's machine-readable format, its notice as
# the Copyright field and its permission text, indented, as the licence's.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
if(NOT license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n+(Permission [^\n]+.*[^\n])\n*$")
  message(FATAL_ERROR "LICENSE has no line 'Copyright (c) ...' followed by the licence text")
endif()
set(MURVECOLOR_COPYRIGHT "${CMAKE_MATCH_1}")
string(REGEX REPLACE "\n\n+" "\n.\n" license_text "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " MURVECOLOR_LICENSE_TEXT " ${license_text}")
configure_file(packaging/copyright.in debian/copyright @ONLY)

# changelog.Debian.gz, compressed as the manual pages are: the same bytes from every build.
configure_file(packaging/changelog.Debian.in debian/changelog.Debian @ONLY)
find_program(MURVECOLOR_GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT debian/changelog.Debian.gz
  COMMAND ${MURVECOLOR_GZIP} -9 -n -c changelog.Debian > changelog.Debian.gz
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/debian
  COMMENT "Compressing the Debian changelog"
  VERBATIM)
add_custom_target(debian_changelog ALL
                  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/copyright
              ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME murvecolor)

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
           COMMAND ${check_deb} ${deb_test_dir} metadata ${murvecolor_debian_version})
  add_test(NAME DebPackage.Contents COMMAND ${check_deb} ${deb_test_dir} contents)
  add_test(NAME DebPackage.BashCompletion COMMAND ${check_deb} ${deb_test_dir} completion)
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
    DebPackage.BashCompletion
    DebPackage.InstalledMurvecolorRunsWithoutArguments
    DebPackage.InstalledProgramsWorkTogether
    DebPackage.InstallsAndRemovesCleanly
    PROPERTIES FIXTURES_REQUIRED deb_package TIMEOUT 60)
  if(murvecolor_hardened)
    # The package as released; lintian would only miss the hardening in a sanitizer build's.
    # It takes a while, and the check exits 77 when lintian is not installed.
    add_test(NAME DebPackage.Lintian COMMAND ${check_deb} ${deb_test_dir} lint)
    set_tests_properties(DebPackage.Lintian PROPERTIES FIXTURES_REQUIRED deb_package TIMEOUT 300
                                                       SKIP_RETURN_CODE 77)
  endif()
endif()
