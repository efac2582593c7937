# Installing both programs with their manual pages, bash completion, sample
# settings and systemd units, and the Debian package CPack makes of them.
#
# kdx-interface goes into a program folder of its own, KDX_PROGRAM_DIR
# (relative to the prefix), with a link in bin/ to it; a site keeps its
# PAVRO.ini, LOG.TXT and run lock in a site folder of its own
# (/var/lib/kdx-interface/NAME for the unit kdx-interface@NAME.service). The
# units name the program by its full path, which is known only at install
# time (cmake --install --prefix may change it), so they are written then;
# so are the gzipped manual pages and changelog. The sample settings go to
# /etc/kdx-interface/ for the prefix /usr (the package: a conffile there),
# else to etc/kdx-interface/ under the prefix.
include(GNUInstallDirs)

set(KDX_PROGRAM_DIR "lib/kdx-interface" CACHE STRING
    "The program folder of kdx-interface, relative to the install prefix")
set(KDX_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the systemd units go, relative to the install prefix")

install(TARGETS kdx-interface RUNTIME DESTINATION ${KDX_PROGRAM_DIR})
install(TARGETS kdx-db RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# bin/kdx-interface -> the program in its folder.
file(RELATIVE_PATH kdx_link_target "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${KDX_PROGRAM_DIR}/kdx-interface")
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
file(CREATE_LINK ${kdx_link_target} ${CMAKE_BINARY_DIR}/packaging/kdx-interface SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/packaging/kdx-interface DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_SOURCE_DIR}/packaging/kdx-db.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kdx-db)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kdx-interface)

# Every build but a debugging one installs its programs stripped, as the
# package holds them.
if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug" AND NOT KDX_SANITIZE)
  install(CODE "
    foreach(program \"${KDX_PROGRAM_DIR}/kdx-interface\" \"${CMAKE_INSTALL_BINDIR}/kdx-db\")
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${program}\"
                      RESULT_VARIABLE stripped)
      if(NOT stripped EQUAL 0)
        message(FATAL_ERROR \"cannot strip \${program}\")
      endif()
    endforeach()
  ")
endif()

install(CODE "
  set(KDX_PROGRAM_FOLDER \"\${CMAKE_INSTALL_PREFIX}/${KDX_PROGRAM_DIR}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/kdx-interface@.service.in\"
                 \"${CMAKE_BINARY_DIR}/packaging/kdx-interface@.service\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${KDX_SYSTEMD_UNIT_DIR}\" TYPE FILE
       FILES \"${CMAKE_BINARY_DIR}/packaging/kdx-interface@.service\"
             \"${CMAKE_SOURCE_DIR}/packaging/kdx-interface@.timer\")

  foreach(page kdx-interface kdx-db)
    execute_process(COMMAND gzip -9nc \"${CMAKE_SOURCE_DIR}/packaging/\${page}.1\"
                    OUTPUT_FILE \"${CMAKE_BINARY_DIR}/packaging/\${page}.1.gz\")
  endforeach()
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1\" TYPE FILE
       FILES \"${CMAKE_BINARY_DIR}/packaging/kdx-interface.1.gz\" \"${CMAKE_BINARY_DIR}/packaging/kdx-db.1.gz\")
  execute_process(COMMAND gzip -9nc \"${CMAKE_SOURCE_DIR}/packaging/changelog\"
                  OUTPUT_FILE \"${CMAKE_BINARY_DIR}/packaging/changelog.gz\")
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/doc/kdx-interface\" TYPE FILE
       FILES \"${CMAKE_BINARY_DIR}/packaging/changelog.gz\")

  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(kdx_etc /etc)
  else()
    set(kdx_etc \"\${CMAKE_INSTALL_PREFIX}/etc\")
  endif()
  file(INSTALL DESTINATION \"\${kdx_etc}/kdx-interface\" TYPE FILE RENAME example.ini
       FILES \"${CMAKE_SOURCE_DIR}/packaging/PAVRO.ini\")
")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kdx-interface)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "export of employee and leave data from an HR database for payroll")
set(CPACK_PACKAGE_DESCRIPTION
    "kdx-interface runs unattended beside an HR and payroll database and writes
the employee master file, the leave-day file and the leave CSV that a payroll
system imports. It only reads the database: a folder of free tables, a
dictionary file or a PostgreSQL server. Each site runs as the unprivileged
systemd unit kdx-interface@NAME.service, started by its timer. kdx-db
inspects, checks, seals and fills the databases.")
set(CPACK_PACKAGE_CONTACT "KDX Interface maintainers <kdx-interface@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# useradd and groupadd of the maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
set(CPACK_STRIP_FILES ON)
# The maintainer scripts make the user kdx and /var/lib/kdx-interface (and
# remove them again); nothing is started or enabled at install.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_SOURCE_DIR}/packaging/debian/postinst;${CMAKE_SOURCE_DIR}/packaging/debian/prerm;${CMAKE_SOURCE_DIR}/packaging/debian/postrm;${CMAKE_SOURCE_DIR}/packaging/debian/conffiles")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
