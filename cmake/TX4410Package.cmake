# The Debian package: `cpack -G DEB` in the build folder makes tx4410_<version>_<arch>.deb from
# the install rules, with the prefix /usr (so /usr/lib/tx4410, /usr/bin, /etc/tx4410) and the
# udev rule where board/CMakeLists.txt installs it (lib/udev/rules.d, /usr/lib/udev/rules.d).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tx4410)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "TX4410 bench program maintainers <tx4410-bench@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The bench programs TX4410 and TX4410(version2) for the TX4410 evaluation board, a 16-bit
voltage-output DAC on a USB board: build a serial command word bit by bit, write it to the
part and read any DAC output back in volts. With TX4410_BOARD=sim they run on the simulated
board that comes with them.")
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
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")

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
     "${packaged_firmware}\n${packaged_etc}/board.conf\n")
# The udev rule applies to a board already plugged in, where udev runs at all.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/postinst.in ${PROJECT_BINARY_DIR}/debian/postinst
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/debian/conffiles ${PROJECT_BINARY_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
