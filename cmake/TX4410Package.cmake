# The Debian package: `cpack -G DEB` in the build folder makes tx4410_<version>_<arch>.deb from
# the install rules, with the prefix /usr (so /usr/lib/tx4410, /usr/bin, /etc/tx4410) and the
# udev rule where board/CMakeLists.txt installs it (lib/udev/rules.d, /usr/lib/udev/rules.d).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tx4410)
# The package's version: the project's and a Debian revision, each settable when configuring (a
# rebuild for a distribution, a local fix). cmake/debian/changelog holds the history, its top
# entry the version released; a build under another version gets an entry of its own above it.
set(TX4410_PACKAGE_VERSION "${PROJECT_VERSION}" CACHE STRING "The package's upstream version")
set(TX4410_DEBIAN_REVISION "1" CACHE STRING "The package's Debian revision; empty for none")
if(NOT TX4410_PACKAGE_VERSION MATCHES "^[0-9][A-Za-z0-9.+~]*$")
    message(FATAL_ERROR "TX4410_PACKAGE_VERSION '${TX4410_PACKAGE_VERSION}' is not a Debian upstream version")
endif()
if(NOT TX4410_DEBIAN_REVISION MATCHES "^[A-Za-z0-9.+~]*$")
    message(FATAL_ERROR "TX4410_DEBIAN_REVISION '${TX4410_DEBIAN_REVISION}' is not a Debian revision")
endif()
set(package_version "${TX4410_PACKAGE_VERSION}")
if(NOT TX4410_DEBIAN_REVISION STREQUAL "")
    string(APPEND package_version "-${TX4410_DEBIAN_REVISION}")
endif()
set(CPACK_PACKAGE_VERSION ${TX4410_PACKAGE_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TX4410_DEBIAN_REVISION})
# Who answers for the package: the Maintainer field and the changelog's signature. The default's
# address is in .invalid, a domain that never exists (so never someone else's), and Debian's
# checks take it; set a real name and address when publishing the package.
# TX4410_MAINTAINER is set in the top CMakeLists.txt: the software centre's entries name it too.
set(CPACK_PACKAGE_CONTACT "${TX4410_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The bench programs TX4410 and TX4410(version2) for the TX4410 evaluation
board, a 16-bit voltage-output DAC on a USB board: build a serial command word
bit by bit, write it to the part and read any DAC output back in volts. With
TX4410_BOARD=sim they run on the simulated board that comes with them.
tx4410-cli scripts the board from a shell; tx4410-server makes it an SCPI
instrument on a TCP port (a systemd user unit, not enabled).")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The install writes paths of the prefix into the programs: it must run with the package's own
# prefix, /usr, into a staging DESTDIR, not with the staging folder as its prefix.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# What the programs and the board libraries link (Qt, libusb) decides the dependencies; the
# platform plugins are loaded, not linked, and a window needs them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window names Liberation Sans and Liberation Sans Narrow: without them its title is clipped.
# Qt SQL's SQLite driver, which keeps the calibration records, is loaded, not linked.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation, python3, libqt6sql6-sqlite")
# The PyMeasure driver in python3's folder works with these; the programs need neither.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-pymeasure, python3-pyvisa-py")
# tx4410-server is found through these: VXI-11's port mapper for a server that may not bind port
# 111 (the user service), and DNS-SD. It runs without them, and says so.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "rpcbind, avahi-daemon")
# No symbols or debug information (and with them the build tree's paths) in the package.
set(CPACK_STRIP_FILES ON)

# What Debian asks of every package besides: a copyright file and the changelog, compressed as
# dpkg does (no name or time stamp in it, so that the same changelog packs the same).
set(changelog ${CMAKE_CURRENT_LIST_DIR}/debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
file(STRINGS ${changelog} released LIMIT_COUNT 1 REGEX "^tx4410 \\(")
string(REGEX REPLACE "^tx4410 \\(([^)]*)\\).*" "\\1" released "${released}")
file(READ ${changelog} history)
if(NOT released STREQUAL package_version)
    # Dated as the configure (or SOURCE_DATE_EPOCH), so that the same build packs the same.
    string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
    string(CONCAT history "tx4410 (${package_version}) unstable; urgency=medium\n\n"
        "  * Built as ${package_version} from ${released}, with no change of its own.\n\n"
        " -- ${TX4410_MAINTAINER}  ${changelog_date}\n\n" "${history}")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/debian/changelog "${history}")
execute_process(COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/debian/changelog
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
# A package with a Debian revision is not native: its changelog is changelog.Debian.
if(TX4410_DEBIAN_REVISION STREQUAL "")
    set(changelog_name changelog.gz)
else()
    set(changelog_name changelog.Debian.gz)
endif()
install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tx4410
        RENAME ${changelog_name})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tx4410)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME tx4410)

# The firmware image in etc is the user's to replace: a conffile, kept by dpkg on upgrade.
# Where the install steps put it for the prefix /usr.
if(IS_ABSOLUTE "${TX4410_FIRMWARE_DIR}")
    set(packaged_firmware "${TX4410_FIRMWARE_DIR}/TX4413.hex")
elseif(TX4410_FIRMWARE_DIR MATCHES "^etc(/|$)")
    set(packaged_firmware "/${TX4410_FIRMWARE_DIR}/TX4413.hex")
else()
    set(packaged_firmware "/usr/${TX4410_FIRMWARE_DIR}/TX4413.hex")
endif()
get_filename_component(packaged_etc "${packaged_firmware}" DIRECTORY)
file(WRITE ${PROJECT_BINARY_DIR}/debian/conffiles
     "${packaged_firmware}
${packaged_etc}/board.conf
")
# Maintainer scripts of our own stand in for the generator's, which would run ldconfig for our
# private libraries; postinst applies the udev rule to a board already plugged in, where udev runs.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/postinst.in ${PROJECT_BINARY_DIR}/debian/postinst
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/conffiles
    ${PROJECT_BINARY_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
