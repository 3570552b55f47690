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
target_sources(CantoraUpdater PRIVATE resources/cantora2-updater.rc)
set_source_files_properties(resources/cantora2-updater.rc PROPERTIES
    OBJECT_DEPENDS "${windows_icon};${CMAKE_SOURCE_DIR}/resources/cantora2-updater.manifest")
target_include_directories(CantoraUpdater PRIVATE
    "${CMAKE_BINARY_DIR}/resources" "${CMAKE_SOURCE_DIR}/resources")
