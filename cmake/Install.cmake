# Linux desktop integration. A Linux executable carries no icon resources, so the desktop finds
# the program's icon through a .desktop entry whose StartupWMClass matches the window's WM_CLASS
# (the application name) and hicolor icons made from the icon picture.

include (GNUInstallDirs)

set (HL73_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
     "Where the udev rule goes (relative to the prefix, or absolute such as /etc/udev/rules.d)")

install (TARGETS VelmorHL73Updater RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

install (FILES "${CMAKE_SOURCE_DIR}/resources/linux/velmorhl73updater.desktop"
         DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")

foreach (size 16 32 48 256)
    install (FILES "${CMAKE_SOURCE_DIR}/resources/linux/icons/hicolor/${size}x${size}/apps/velmorhl73updater.png"
             DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()

file (GLOB hl73_udev_rules "${CMAKE_SOURCE_DIR}/resources/linux/*.rules")
install (FILES ${hl73_udev_rules} DESTINATION "${HL73_UDEV_RULES_DIR}")
