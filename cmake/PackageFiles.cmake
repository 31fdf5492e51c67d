# The files a Debian package owes its users beside the programs: manual
# pages built from the programs' own --help, bash completion, the copyright
# file and the changelog.

find_program(CVN_HELP2MAN help2man)
# Sanitized builds are for tests, not packages: their programs may report
# at exit and fail help2man.
if(CVN_HELP2MAN AND NOT CVN_SANITIZE)
  set(cvn_man_dir ${PROJECT_BINARY_DIR}/man)
  set(cvn_man_pages)
  foreach(prog IN ITEMS wavecatch halvio-sim)
    if(prog STREQUAL "wavecatch")
      set(summary "command-line host of the Corvane Halvio oscilloscope add-in")
    else()
      set(summary "simulated Corvane Halvio oscilloscope for tests and demos")
    endif()
    add_custom_command(
      OUTPUT ${cvn_man_dir}/${prog}.1.gz
      COMMAND ${PROJECT_SOURCE_DIR}/tools/make-man $<TARGET_FILE:${prog}> ${PROJECT_VERSION}
              "${summary}" ${cvn_man_dir}/${prog}.1.gz
      DEPENDS ${prog} ${PROJECT_SOURCE_DIR}/tools/make-man
      COMMENT "Manual page of ${prog}"
      VERBATIM)
    list(APPEND cvn_man_pages ${cvn_man_dir}/${prog}.1.gz)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${cvn_man_pages})
  install(FILES ${cvn_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
elseif(NOT CVN_SANITIZE)
  message(WARNING "help2man not found: the package gets no manual pages (Debian: help2man)")
endif()

# bash-completion loads a command's completion by its name.
foreach(prog IN ITEMS wavecatch halvio-sim)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/wavecatch.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${prog})
endforeach()

configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
  COMMAND sh -c "gzip -9n < changelog > changelog.gz"
  DEPENDS ${PROJECT_BINARY_DIR}/changelog
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# A shared library in the package: Debian wants its shlibs file, and the
# ldconfig trigger instead of ldconfig calls in maintainer scripts. CPack
# writes those calls unless the package brings its own postinst and postrm,
# which therefore do nothing.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/triggers ${PROJECT_SOURCE_DIR}/packaging/postinst
    ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
