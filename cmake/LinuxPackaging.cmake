# The Linux program's links and its Debian package (make package): CMake's install rules and CPack's
# DEB generator. The command is cantora2-updater; the program's own name and window title stay as they are.

# The framework loads these X11 libraries by name when it starts. Linked here as well, they are
# needed entries of the program, so that the package's dependencies are computed from it.
find_package(X11 REQUIRED COMPONENTS Xext Xcursor Xinerama Xrender Xrandr)
target_link_libraries(CantoraUpdater PRIVATE -Wl,--no-as-needed X11::X11 X11::Xext X11::Xcursor
    X11::Xinerama X11::Xrender X11::Xrandr -Wl,--as-needed)

include(GNUInstallDirs)

set(CANTORA_MAINTAINER "${CANTORA_PRODUCT_NAME} maintainers <maintainers@users.noreply.c-seed-1d2db596.example>"
    CACHE STRING "The package's maintainer field")
set(CANTORA_HOMEPAGE "https://korvane.example/cantora2-updater" CACHE STRING "The program's home page")
set(CANTORA_SCREENSHOT_URL "https://korvane.example/cantora2-updater/screenshot.png"
    CACHE STRING "Where the screenshot (docs/screenshot.png) is published")

set(package_dir "${CMAKE_BINARY_DIR}/package")
set(app_id com.korvane.Cantora2Updater)

foreach(file copyright changelog ${app_id}.metainfo.xml cantora2-updater.1)
    configure_file("${CMAKE_SOURCE_DIR}/resources/${file}" "${package_dir}/${file}" @ONLY)
endforeach()

# The icon in the hicolor theme at the sizes desktops look for; documentation files compressed the
# way Debian wants them (gzip -9n).
set(icon_sizes 16 32 48 64 128 256)
cantora_render_icon(theme_icons ${icon_sizes})
add_custom_command(OUTPUT "${package_dir}/changelog.gz" "${package_dir}/cantora2-updater.1.gz"
    COMMAND gzip -9nc "${package_dir}/changelog" > "${package_dir}/changelog.gz"
    COMMAND gzip -9nc "${package_dir}/cantora2-updater.1" > "${package_dir}/cantora2-updater.1.gz"
    DEPENDS "${package_dir}/changelog" "${package_dir}/cantora2-updater.1")
add_custom_target(cantora_package_files ALL DEPENDS "${package_dir}/changelog.gz")

install(PROGRAMS $<TARGET_FILE:CantoraUpdater> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME cantora2-updater)
install(FILES "${CMAKE_SOURCE_DIR}/resources/${app_id}.desktop" DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES "${package_dir}/${app_id}.metainfo.xml" DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size IN LISTS icon_sizes)
    install(FILES "${CMAKE_BINARY_DIR}/resources/icon-${size}.png"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME cantora2-updater.png)
endforeach()
install(FILES "${CMAKE_SOURCE_DIR}/resources/cantora2-updater.svg"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES "${package_dir}/cantora2-updater.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES "${package_dir}/copyright" "${package_dir}/changelog.gz"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/cantora2-updater)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cantora2-updater)
# A build that carries the stand-in image says so in its version, and so in the file's name.
if(CANTORA_STANDIN_IMAGE)
    set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}~standin")
else()
    set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
endif()
set(CPACK_PACKAGE_VENDOR Korvane)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CANTORA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${CANTORA_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the Cantora 2 MIDI device")
set(CPACK_PACKAGE_DESCRIPTION "${CANTORA_PRODUCT_NAME} carries one firmware image for the Cantora 2 and sends it,
message by message and byte for byte, to the MIDI output port the user picks,
while a progress bar climbs to 100%. It reports completion only when every
message has gone out and the device is still there afterwards.")
if(CANTORA_STANDIN_IMAGE)
    # The screen's notice, in lines of at most 72 characters as Debian's descriptions want them.
    string(REGEX MATCHALL "[^ ]+" words "${CANTORA_STANDIN_NOTICE}")
    set(line "")
    set(wrapped "")
    foreach(word IN LISTS words)
        string(LENGTH "${line} ${word}" length)
        if(NOT line STREQUAL "" AND length GREATER 72)
            string(APPEND wrapped "\n${line}")
            set(line "${word}")
        elseif(NOT line STREQUAL "")
            string(APPEND line " ${word}")
        else()
            set(line "${word}")
        endif()
    endforeach()
    string(APPEND CPACK_PACKAGE_DESCRIPTION "\n.${wrapped}\n${line}")
endif()
include(CPack)

# The package's file name, as CPack makes it, for the scripts.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE deb_architecture
    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
file(APPEND "${CMAKE_BINARY_DIR}/cantora-facts.sh"
    "CANTORA_DEB_FILE='${CPACK_PACKAGE_NAME}_${CPACK_PACKAGE_VERSION}_${deb_architecture}.deb'\n")
