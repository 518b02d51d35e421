# Debian's hardening flags (what dpkg-buildflags gives with hardening=+all) for every ELF build
# that is not a sanitizer or fuzz build, whose instrumentation they would only get in the way of.
# The MinGW build goes without: its stack protector and fortify functions need libssp.

set(murvecolor_hardened OFF)
if(MSVC OR MURVECOLOR_SANITIZE OR MURVECOLOR_FUZZ OR NOT CMAKE_EXECUTABLE_FORMAT STREQUAL "ELF")
  return()
endif()
set(murvecolor_hardened ON)

include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
# That compiles the static libraries with -fPIC, whose functions could be interposed and so are
# not inlined into their callers: the settings reader would run three times slower.
add_compile_options(-fno-semantic-interposition)

add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
# The fortify checks work from what the optimiser knows, and warn when it is off.
add_compile_options(
  "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
add_link_options(-Wl,-z,relro -Wl,-z,now)
