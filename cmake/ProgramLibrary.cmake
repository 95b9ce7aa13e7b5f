# The program's own code, shared by the app and the tests, one static library per layer:
#
#   hl73_app      the application object, the window and the main screen
#   hl73_updater  the update engine: thread, download, image check, copy, sequence
#   hl73_program  both together (an interface target), the whole program but its device layer
#
# The engine calls the device operations through their headers only; whoever links it also links
# one device implementation: hl73_device (Linux or Windows) in the app, a scriptable fake in the engine's
# tests. Likewise the screen's tests link a scripted stand-in for the updater instead of
# hl73_updater.

add_library (hl73_app STATIC
    app/Application.cpp
    ui/MainComponent.cpp)

# How the system asks the program to end differs per OS; the header is the same.
if (WIN32)
    target_sources (hl73_app PRIVATE app/windows/QuitSignals.cpp)
else()
    target_sources (hl73_app PRIVATE app/linux/QuitSignals.cpp)
endif()

add_library (hl73_updater STATIC
    updater/FirmwareUpdater.cpp
    updater/FirmwareDownload.cpp
    updater/Uf2Image.cpp
    updater/FirmwareCopy.cpp
    updater/UpdateSequence.cpp)

foreach (layer hl73_app hl73_updater)
    target_include_directories (${layer} PUBLIC "${CMAKE_SOURCE_DIR}")
    target_compile_definitions (${layer} PUBLIC
        HL73_MAKER_HOST="${HL73_MAKER_HOST}"
        HL73_VERSION="${PROJECT_VERSION}")
    target_link_libraries (${layer} PUBLIC juce_modules PRIVATE hl73_warnings)
endforeach()

target_link_libraries (hl73_app PUBLIC hl73_binary_data)

add_library (hl73_program INTERFACE)
target_link_libraries (hl73_program INTERFACE hl73_app hl73_updater)

# The device layer of the system we build for, as hl73_device. Each system's code lives in its
# own folder and is compiled only for that system; what both share is in device/.
if (WIN32)
    add_library (hl73_device_windows STATIC
        device/Rp2BootloaderInfo.cpp
        device/windows/SerialPortDiscovery.cpp
        device/windows/BootloaderEntry.cpp
        device/windows/BootloaderDrive.cpp
        device/windows/SystemAwake.cpp)
    target_link_libraries (hl73_device_windows PRIVATE setupapi)
    set (hl73_device_os hl73_device_windows)
else()
    add_library (hl73_device_linux STATIC
        device/Rp2BootloaderInfo.cpp
        device/linux/SerialPortDiscovery.cpp
        device/linux/BootloaderEntry.cpp
        device/linux/BootloaderDrive.cpp
        device/linux/SysfsTty.cpp
        device/linux/MountTable.cpp
        device/linux/SysfsBlock.cpp
        device/linux/BootloaderMount.cpp
        device/linux/SystemAwake.cpp
        device/linux/SystemBus.cpp
        device/linux/Udisks.cpp)
    set (hl73_device_os hl73_device_linux)

    # sd-bus (libsystemd) talks to UDisks2 and logind on the system bus.
    find_package (PkgConfig REQUIRED)
    pkg_check_modules (SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
    target_link_libraries (hl73_device_linux PUBLIC PkgConfig::SYSTEMD)
endif()

target_include_directories (${hl73_device_os} PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries (${hl73_device_os}
    PUBLIC juce_modules
    PRIVATE hl73_warnings)

# The Windows device layer's decisions (the identity in an instance identifier, port names and
# paths, which drive letters to try, volume identity, the request's order), free of Windows calls:
# built on every system, so that the Linux test build checks them natively too.
add_library (hl73_device_windows_rules STATIC
    device/windows/WindowsDeviceNames.cpp
    device/windows/BootloaderRequest.cpp)
target_include_directories (hl73_device_windows_rules PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries (hl73_device_windows_rules PRIVATE hl73_warnings)

if (WIN32)
    target_link_libraries (hl73_device_windows PRIVATE hl73_device_windows_rules)
endif()

add_library (hl73_device INTERFACE)
target_link_libraries (hl73_device INTERFACE ${hl73_device_os})
