# Linux desktop integration. A Linux executable carries no icon resources, so the desktop finds
# the program's icon through a .desktop entry whose StartupWMClass matches the window's WM_CLASS
# (the application name) and hicolor icons made from the icon picture.

include (GNUInstallDirs)
find_package (PkgConfig REQUIRED)

# The udev rule must go where udev reads it whatever the install prefix: udev's own folder, as
# its pkg-config module reports it (the absolute path takes DESTDIR but not the prefix). Without
# that module, /usr/lib/udev/rules.d, which every systemd-udev reads. An install into a prefix
# the user owns (no root) sets HL73_UDEV_RULES_DIR to a folder of theirs and copies the rule
# into /etc/udev/rules.d by hand.
pkg_get_variable (hl73_udevdir udev udevdir)
if (hl73_udevdir)
    set (hl73_default_rules_dir "${hl73_udevdir}/rules.d")
else()
    set (hl73_default_rules_dir "/usr/lib/udev/rules.d")
endif()

# Build folders configured before the rule followed udev's folder cached the prefix-relative one.
if (HL73_UDEV_RULES_DIR STREQUAL "lib/udev/rules.d")
    unset (HL73_UDEV_RULES_DIR CACHE)
endif()
set (HL73_UDEV_RULES_DIR "${hl73_default_rules_dir}" CACHE PATH "Where the udev rule goes")

# Software centres list the program from its AppStream metainfo; its id is the maker's domain
# reversed (www.kestrelworks.example: example.kestrelworks.velmorhl73updater).
string (REGEX REPLACE "^www\\." "" hl73_domain "${HL73_MAKER_HOST}")
string (REPLACE "-" "_" hl73_domain "${hl73_domain}")
string (REPLACE "." ";" hl73_domain_labels "${hl73_domain}")
list (REVERSE hl73_domain_labels)
list (JOIN hl73_domain_labels "." HL73_APPSTREAM_ID)
string (APPEND HL73_APPSTREAM_ID ".velmorhl73updater")
configure_file ("${CMAKE_SOURCE_DIR}/resources/linux/velmorhl73updater.metainfo.xml.in"
                "${CMAKE_BINARY_DIR}/${HL73_APPSTREAM_ID}.metainfo.xml" @ONLY)

install (TARGETS VelmorHL73Updater RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

install (FILES "${CMAKE_SOURCE_DIR}/resources/linux/velmorhl73updater.desktop"
         DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")

foreach (size 16 32 48 256)
    install (FILES "${CMAKE_SOURCE_DIR}/resources/linux/icons/hicolor/${size}x${size}/apps/velmorhl73updater.png"
             DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()

install (FILES "${CMAKE_BINARY_DIR}/${HL73_APPSTREAM_ID}.metainfo.xml"
         DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

install (FILES "${CMAKE_SOURCE_DIR}/resources/linux/VelmorHL73Updater.1"
         DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

file (GLOB hl73_udev_rules "${CMAKE_SOURCE_DIR}/resources/linux/*.rules")
install (FILES ${hl73_udev_rules} DESTINATION "${HL73_UDEV_RULES_DIR}")
