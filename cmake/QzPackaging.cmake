# The nightly-scan examples, and a Debian package of everything installed:
# library, headers, CMake and pkg-config files, tools, default rules, man
# pages and shell completion.
#
#   cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
#   cmake --build build --target package        # build/qzengine_<version>_<arch>.deb
#
# The package installs under /usr. qzscan looks for its default rules under
# the prefix it was configured with first, so a package is built from a tree
# configured for /usr; another prefix still works (qzscan then finds the rules
# beside itself) unless an older install sits in that prefix.

if(QZ_BUILD_TOOLS)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/contrib/qzscan-nightly
    DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  install(FILES
    ${PROJECT_SOURCE_DIR}/contrib/README.md
    ${PROJECT_SOURCE_DIR}/contrib/qzscan-nightly.conf
    ${PROJECT_SOURCE_DIR}/contrib/systemd/qzscan-nightly.service
    ${PROJECT_SOURCE_DIR}/contrib/systemd/qzscan-nightly.timer
    ${PROJECT_SOURCE_DIR}/contrib/cron/qzscan-nightly.cron
    DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  # The daemon's socket-activated units, where systemd looks for a package's
  # units (under /usr: /usr/lib/systemd/system).
  set(QZ_SYSTEMD_UNIT_DIR lib/systemd/system CACHE STRING
    "Where the qzscan daemon's systemd units are installed, under the prefix")
  set(QZSCAN_PATH ${CMAKE_INSTALL_FULL_BINDIR}/qzscan)
  configure_file(${PROJECT_SOURCE_DIR}/contrib/systemd/qzscand.service.in
    ${PROJECT_BINARY_DIR}/contrib/qzscand.service @ONLY)
  install(FILES ${PROJECT_SOURCE_DIR}/contrib/systemd/qzscand.socket
    ${PROJECT_BINARY_DIR}/contrib/qzscand.service DESTINATION ${QZ_SYSTEMD_UNIT_DIR})
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/qzrules/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
    RENAME qzrules.md)
endif()

if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "qzengine: the package target installs under /usr; "
                 "configure with -DCMAKE_INSTALL_PREFIX=/usr when building a package")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qzengine)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The qz-engine authors")
set(CPACK_PACKAGE_CONTACT "The qz-engine authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "finds PHP web shells and other malicious PHP scripts by behaviour")
set(CPACK_PACKAGE_DESCRIPTION
  "qz-engine walks PHP scripts without running them and scores the calls they\n\
make against behaviour rules. The package holds the shared library with its\n\
headers, CMake and pkg-config files, the qzscan and qzrules tools with their\n\
man pages and bash completion, and the default rule set.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Dependencies come from the binaries themselves (dpkg-shlibdeps); the
# package's own library gets a shlibs entry and ldconfig runs on install and
# removal.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
include(CPack)
