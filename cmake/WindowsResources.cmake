# The Windows program's resources: the icon group rendered from the drawing, the version and the manifest.

# The project's resource script (one icon group, the version, the manifest) in place of the
# framework's generated one, which has two icon groups and no manifest.
get_target_property(app_sources CantoraUpdater SOURCES)
list(FILTER app_sources EXCLUDE REGEX "resources\\.rc$")
set_target_properties(CantoraUpdater PROPERTIES SOURCES "${app_sources}")

cantora_render_icon(windows_icon_pngs 16 32 48 256)
set(windows_icon "${CMAKE_BINARY_DIR}/resources/cantora2-updater.ico")
list(GET windows_icon_pngs 3 icon_256)
list(REMOVE_AT windows_icon_pngs 3)
find_program(ICOTOOL icotool REQUIRED)
add_custom_command(OUTPUT "${windows_icon}"
    COMMAND "${ICOTOOL}" -c -o "${windows_icon}" -b 32 ${windows_icon_pngs} -r "${icon_256}"
    DEPENDS ${windows_icon_pngs} "${icon_256}"
    COMMENT "Making the Windows icon group"
    VERBATIM)

# The project's version in the version resource (four numbers and the text) and in the manifest.
set(CANTORA_VERSION_NUMBERS "${PROJECT_VERSION_MAJOR}, ${PROJECT_VERSION_MINOR}, ${PROJECT_VERSION_PATCH}, 0")
set(CANTORA_VERSION_DOTTED "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/resources/cantora-version.h" CONTENT
"// Made by CMake: the program's version, for its resource script.
#define CANTORA_VERSION_NUMBERS ${CANTORA_VERSION_NUMBERS}
#define CANTORA_VERSION_TEXT \"${PROJECT_VERSION}\"
")
configure_file("${CMAKE_SOURCE_DIR}/resources/cantora2-updater.manifest"
    "${CMAKE_BINARY_DIR}/resources/cantora2-updater.manifest" @ONLY)

set(resource_files "${windows_icon}" "${CMAKE_BINARY_DIR}/resources/cantora2-updater.manifest"
    "${CMAKE_BINARY_DIR}/resources/cantora-version.h")
target_sources(CantoraUpdater PRIVATE resources/cantora2-updater.rc)
set_source_files_properties(resources/cantora2-updater.rc PROPERTIES OBJECT_DEPENDS "${resource_files}")
target_include_directories(CantoraUpdater PRIVATE "${CMAKE_BINARY_DIR}/resources")

# What the release files are named (with "-standin" for a build that carries the stand-in image), and
# the installer's upgrade code: the one identity under which every version replaces the one before.
if(CANTORA_STANDIN_IMAGE)
    set(windows_release_name "Cantora2Updater-${PROJECT_VERSION}-standin")
else()
    set(windows_release_name "Cantora2Updater-${PROJECT_VERSION}")
endif()
file(APPEND "${CMAKE_BINARY_DIR}/cantora-facts.sh" "CANTORA_WINDOWS_NAME='${windows_release_name}'
CANTORA_UPGRADE_CODE='518EB127-6407-403D-80F6-9C55C6E07712'
")
