# Installing both programs with their manual pages, bash completion, sample
# settings and systemd units, and the Debian package CPack makes of them.
#
# kdx-interface reads PAVRO.ini and writes LOG.TXT beside its program file,
# so it is installed into a program folder of its own, KDX_PROGRAM_DIR
# (relative to the prefix), with a link in bin/ to it. The units name that
# folder by its full path, which is known only at install time (cmake
# --install --prefix may change it), so they are written then.
include(GNUInstallDirs)

set(KDX_PROGRAM_DIR "lib/kdx-interface" CACHE STRING
    "The program folder of kdx-interface, relative to the install prefix")
set(KDX_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the systemd units go, relative to the install prefix")

install(TARGETS kdx-interface RUNTIME DESTINATION ${KDX_PROGRAM_DIR})
install(TARGETS kdx-db RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# bin/kdx-interface -> the program in its folder; the program follows the
# link back to its folder.
file(RELATIVE_PATH kdx_link_target "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${KDX_PROGRAM_DIR}/kdx-interface")
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
file(CREATE_LINK ${kdx_link_target} ${CMAKE_BINARY_DIR}/packaging/kdx-interface SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/packaging/kdx-interface DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_SOURCE_DIR}/packaging/kdx-interface.1 ${CMAKE_SOURCE_DIR}/packaging/kdx-db.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kdx-db.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kdx-db)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/PAVRO.ini DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kdx-interface/examples)

install(CODE "
  set(KDX_PROGRAM_FOLDER \"\${CMAKE_INSTALL_PREFIX}/${KDX_PROGRAM_DIR}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/kdx-interface.service.in\"
                 \"${CMAKE_BINARY_DIR}/packaging/kdx-interface.service\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${KDX_SYSTEMD_UNIT_DIR}\" TYPE FILE
       FILES \"${CMAKE_BINARY_DIR}/packaging/kdx-interface.service\"
             \"${CMAKE_SOURCE_DIR}/packaging/kdx-interface.timer\")
")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kdx-interface)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Exports employee and leave data from an HR database for payroll")
set(CPACK_PACKAGE_CONTACT "KDX Interface maintainers <kdx-interface@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Nothing is started or enabled at install: the timer waits for PAVRO.ini
# and "systemctl enable". Hence no maintainer scripts, and a removal leaves
# nothing of the package behind.
include(CPack)
