# Where `cmake --install` puts the product, and the two Debian packages CPack builds from it
# (scripts/package.sh): rqc-appserver (component "server": the server, its tools, the unit, the
# rqc user, the configuration and logrotate) and rqc-suite (component "suite": the host, the
# screen modules, the shared package, help, desktop entry and a sample configuration).
# Tests, benchmarks and rqc-demo-run are never installed.
#
# The host loads its screen modules from its own folder, so it lives with them and with
# libvlm in a private folder, ${CMAKE_INSTALL_LIBDIR}/rqc, found by $ORIGIN; /usr/bin/suite
# is a link to it.

# A Debian product: /usr (so /etc stays /etc and libraries go to the multiarch folder), unless
# a prefix other than CMake's default was given; decided once per build folder.
if(NOT RQC_INSTALL_PREFIX_CHOSEN)
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr/local")
        set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
    endif()
    set(RQC_INSTALL_PREFIX_CHOSEN ON CACHE INTERNAL "CMAKE_INSTALL_PREFIX was chosen")
endif()
include(GNUInstallDirs)
# Installing builds nothing: scripts/package.sh builds the product first, and the tests and
# benchmarks, never installed, need not be built to package.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(RQC_PRIVATE_DIR ${CMAKE_INSTALL_LIBDIR}/rqc)
set(RQC_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
# Outside the prefix on Debian whatever the prefix: configuration, systemd units, logrotate.
set(RQC_SYSCONF_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR})
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(RQC_UNIT_DIR /lib/systemd/system)
else()
    set(RQC_UNIT_DIR ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()

# --- rqc-appserver -------------------------------------------------------------------------
install(TARGETS rqc-appserver rqc-suitedb rqc-call
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
install(FILES ${RQC_PACKAGING_DIR}/rqc-appserver@.service ${RQC_PACKAGING_DIR}/rqc-import.service
    ${RQC_PACKAGING_DIR}/rqc-import.timer
    DESTINATION ${RQC_UNIT_DIR} COMPONENT server)
install(FILES ${RQC_PACKAGING_DIR}/rqc.sysusers RENAME rqc.conf
    DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/sysusers.d COMPONENT server)
install(FILES ${RQC_PACKAGING_DIR}/appserver.conf ${RQC_PACKAGING_DIR}/import.conf
    DESTINATION ${RQC_SYSCONF_DIR}/rqc COMPONENT server)
install(FILES ${RQC_PACKAGING_DIR}/rqc-appserver.logrotate RENAME rqc-appserver
    DESTINATION ${RQC_SYSCONF_DIR}/logrotate.d COMPONENT server)

# --- rqc-suite ------------------------------------------------------------------------------
install(TARGETS suite vlm vlm_core rqc04100 rqc04200
    RUNTIME DESTINATION ${RQC_PRIVATE_DIR} COMPONENT suite
    LIBRARY DESTINATION ${RQC_PRIVATE_DIR} COMPONENT suite
    NAMELINK_COMPONENT suite)
set_target_properties(suite vlm vlm_core rqc04100 rqc04200 PROPERTIES INSTALL_RPATH "\$ORIGIN")
install(FILES ${CMAKE_SOURCE_DIR}/docs/help/12800100.html ${CMAKE_SOURCE_DIR}/docs/help/4200.html
    DESTINATION ${CMAKE_INSTALL_DATADIR}/rqc/help COMPONENT suite)
install(FILES ${RQC_PACKAGING_DIR}/rqc-suite.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT suite)
install(FILES ${RQC_PACKAGING_DIR}/rqc-suite.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT suite)
install(FILES ${RQC_PACKAGING_DIR}/suite.ini
    DESTINATION ${RQC_SYSCONF_DIR}/rqc COMPONENT suite)
# The links: the program on the PATH, the help pages where the host looks beside itself.
file(RELATIVE_PATH RQC_SUITE_LINK /${CMAKE_INSTALL_BINDIR} /${RQC_PRIVATE_DIR}/suite)
file(RELATIVE_PATH RQC_HELP_LINK /${RQC_PRIVATE_DIR} /${CMAKE_INSTALL_DATADIR}/rqc/help)
set(RQC_LINKS ${CMAKE_BINARY_DIR}/packaging-links)
file(MAKE_DIRECTORY ${RQC_LINKS})
file(CREATE_LINK ${RQC_SUITE_LINK} ${RQC_LINKS}/suite SYMBOLIC)
file(CREATE_LINK ${RQC_HELP_LINK} ${RQC_LINKS}/help SYMBOLIC)
install(FILES ${RQC_LINKS}/suite DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT suite)
install(FILES ${RQC_LINKS}/help DESTINATION ${RQC_PRIVATE_DIR} COMPONENT suite)

# --- documents each package carries (Debian wants a copyright file and a changelog) -------
set(RQC_CHANGELOG ${CMAKE_BINARY_DIR}/packaging-changelog)
file(MAKE_DIRECTORY ${RQC_CHANGELOG})
foreach(pkg rqc-appserver rqc-suite)
    file(WRITE ${RQC_CHANGELOG}/${pkg}
        "${pkg} (${PROJECT_VERSION}) stable; urgency=medium\n\n"
        "  * Release ${PROJECT_VERSION}.\n\n"
        " -- rqc developers <rqc@example.com>  Wed, 09 Dec 2026 12:00:00 +0000\n")
    execute_process(COMMAND gzip -n -9 -f ${RQC_CHANGELOG}/${pkg})
endforeach()
install(FILES ${RQC_PACKAGING_DIR}/copyright ${CMAKE_SOURCE_DIR}/docs/install.md
    ${CMAKE_SOURCE_DIR}/docs/operations.md ${CMAKE_SOURCE_DIR}/docs/deployment.md
    ${CMAKE_SOURCE_DIR}/docs/schema.md ${CMAKE_SOURCE_DIR}/docs/import.md
    ${CMAKE_SOURCE_DIR}/docs/go-live.md ${CMAKE_SOURCE_DIR}/docs/protocol.md
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/rqc-appserver COMPONENT server)
install(DIRECTORY ${RQC_PACKAGING_DIR}/exemplos/
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/rqc-appserver/exemplos COMPONENT server)
install(FILES ${RQC_CHANGELOG}/rqc-appserver.gz RENAME changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/rqc-appserver COMPONENT server)
install(FILES ${RQC_PACKAGING_DIR}/copyright ${CMAKE_SOURCE_DIR}/docs/configuration.md
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/rqc-suite COMPONENT suite)
install(FILES ${RQC_CHANGELOG}/rqc-suite.gz RENAME changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/rqc-suite COMPONENT suite)

# --- the Debian packages --------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rqc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "rqc developers")
set(CPACK_PACKAGE_CONTACT "rqc developers <rqc@example.com>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Absolute destinations (/etc, /lib/systemd) go into the package, never onto this machine.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server suite)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_PREFIX}/${RQC_PRIVATE_DIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME rqc-appserver)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
# openssl: the install guide makes the server's certificate with it.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser, openssl")
set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS "sqlite3")
set(CPACK_COMPONENT_SERVER_DESCRIPTION
   "application server of the purchasing suite
rqc-appserver runs the heavy work of the suite's purchasing screens (request
look-ups, consolidation of purchase requests) against the suite database,
SQLite or PostgreSQL, for clients that log in as operators over TLS.

The package also holds rqc-suitedb, which creates, upgrades and inspects the
suite database and manages its operators, and rqc-call, a command-line client.
The systemd unit rqc-appserver@PORT runs one server per port as user rqc.")
set(RQC_SERVER_CONTROL ${CMAKE_BINARY_DIR}/packaging-control/server)
file(MAKE_DIRECTORY ${RQC_SERVER_CONTROL})
file(WRITE ${RQC_SERVER_CONTROL}/conffiles
    "${RQC_SYSCONF_DIR}/rqc/appserver.conf\n${RQC_SYSCONF_DIR}/rqc/import.conf\n"
    "${RQC_SYSCONF_DIR}/logrotate.d/rqc-appserver\n")
file(COPY_FILE ${RQC_PACKAGING_DIR}/rqc-appserver.postinst ${RQC_SERVER_CONTROL}/postinst)
file(COPY_FILE ${RQC_PACKAGING_DIR}/rqc-appserver.postrm ${RQC_SERVER_CONTROL}/postrm)
file(COPY_FILE ${RQC_PACKAGING_DIR}/rqc-appserver.prerm ${RQC_SERVER_CONTROL}/prerm)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${RQC_SERVER_CONTROL}/conffiles ${RQC_SERVER_CONTROL}/postinst ${RQC_SERVER_CONTROL}/prerm
    ${RQC_SERVER_CONTROL}/postrm)

set(CPACK_DEBIAN_SUITE_PACKAGE_NAME rqc-suite)
set(CPACK_DEBIAN_SUITE_PACKAGE_SECTION x11)
# Loaded at run time, so invisible to dpkg-shlibdeps: Qt's SQL drivers, its platform plugins
# and its Portuguese translations.
set(CPACK_DEBIAN_SUITE_PACKAGE_DEPENDS
    "libqt6sql6-sqlite, libqt6sql6-psql, qt6-qpa-plugins, qt6-translations-l10n")
set(CPACK_DEBIAN_SUITE_PACKAGE_SUGGESTS "libqt6sql6-ibase, rqc-appserver")
set(CPACK_COMPONENT_SUITE_DESCRIPTION
   "purchasing suite host with the consolidation screens
The suite's desktop program: a main window with a menu of screens, among them
“Consolidação de Solicitação”, which gathers the purchase requests of many
branches into one consolidated request, and “Consulta de Consolidação”,
its history. The screens call an rqc-appserver and read the suite database.")
set(RQC_SUITE_CONTROL ${CMAKE_BINARY_DIR}/packaging-control/suite)
file(MAKE_DIRECTORY ${RQC_SUITE_CONTROL})
file(WRITE ${RQC_SUITE_CONTROL}/conffiles "${RQC_SYSCONF_DIR}/rqc/suite.ini\n")
set(CPACK_DEBIAN_SUITE_PACKAGE_CONTROL_EXTRA ${RQC_SUITE_CONTROL}/conffiles)

include(CPack)
