# What `cmake --install` puts where. On Windows, everything in one folder, as the zip holds it;
# elsewhere the GNU layout under CMAKE_INSTALL_PREFIX, which the Debian package carries under /usr.
# The manual pages install from man/CMakeLists.txt, the package's own documents from
# cmake/Packaging.cmake.

if(WIN32)
  # Windows line ends, so that Notepad of any age shows it as written; the Japanese one is UTF-8
  # with a byte-order mark (in the .in file), without which older Notepad reads Shift_JIS.
  configure_file(packaging/README-windows.txt.in README-windows.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(packaging/README-windows-ja.txt.in README-windows-ja.txt @ONLY
                 NEWLINE_STYLE CRLF)
  set(murvecolor_program_dir .)
  install(TARGETS murvecolor murvedump RUNTIME DESTINATION .)
  install(FILES LICENSE examples/murve_color.cfg examples/murve_color.ja.cfg
                ${PROJECT_BINARY_DIR}/README-windows.txt ${PROJECT_BINARY_DIR}/README-windows-ja.txt
          DESTINATION .)
else()
  set(murvecolor_program_dir ${CMAKE_INSTALL_BINDIR})
  install(TARGETS murvecolor murvedump RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET murvesim)
    install(TARGETS murvesim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()

  # share/doc/murvecolor
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES examples/murve_color.cfg examples/murve_color.ja.cfg
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

  # Loaded by bash-completion when the command's name is first completed.
  set(murvecolor_completions completion/murvecolor completion/murvedump)
  if(TARGET murvesim)
    list(APPEND murvecolor_completions completion/murvesim)
  endif()
  install(FILES ${murvecolor_completions}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

# `cmake --install --strip` and cpack (CPACK_STRIP_FILES) strip the programs, but strip leaves the
# compiler's .comment section in; this takes it out after them.
if(CMAKE_STRIP)
  set(murvecolor_installed_programs murvecolor murvedump)
  if(TARGET murvesim)
    list(APPEND murvecolor_installed_programs murvesim)
  endif()
  foreach(program IN LISTS murvecolor_installed_programs)
    set(installed
        "${murvecolor_program_dir}/${program}${CMAKE_EXECUTABLE_SUFFIX}")
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(
          COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${installed}\"
          COMMAND_ERROR_IS_FATAL ANY)
      endif()")
  endforeach()
endif()
