# What `cmake --install` puts where, in the GNU layout under CMAKE_INSTALL_PREFIX; the Debian
# package carries the same files under /usr. The manual pages install from man/CMakeLists.txt.

install(TARGETS murvecolor murvedump RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET murvesim)
  install(TARGETS murvesim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# share/doc/murvecolor
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES examples/murve_color.cfg DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
