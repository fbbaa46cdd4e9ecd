# The Debian package: `cpack -G DEB` in the build folder makes tx4410_<version>_<arch>.deb from
# the install rules, with the prefix /usr (so /usr/lib/tx4410, /usr/bin, /etc/tx4410) and the
# udev rule where board/CMakeLists.txt installs it (lib/udev/rules.d, /usr/lib/udev/rules.d).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tx4410)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
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
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation, python3")
# The PyMeasure driver in python3's folder works with these; the programs need neither.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-pymeasure, python3-pyvisa-py")
# tx4410-server is found through these: VXI-11's port mapper for a server that may not bind port
# 111 (the user service), and DNS-SD. It runs without them, and says so.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "rpcbind, avahi-daemon")
# No symbols or debug information (and with them the build tree's paths) in the package.
set(CPACK_STRIP_FILES ON)

# What Debian asks of every package besides: a copyright file and a changelog, compressed as
# dpkg does (no name or time stamp in it, so that the same changelog packs the same). Its date
# is the configure's, or SOURCE_DATE_EPOCH's when that is set.
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${PROJECT_BINARY_DIR}/debian/changelog
     "tx4410 (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
     "  * TX4410 1.0.0, TX4410(version2) ${PROJECT_VERSION}, tx4410-cli and tx4410-server\n"
     "    on the board libraries and their simulated board: see README.md beside this\n"
     "    file.\n\n"
     " -- ${TX4410_MAINTAINER}  ${changelog_date}\n")
execute_process(COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/debian/changelog
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tx4410)

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
