# The program's icon: one drawing, resources/cantora2-updater.svg, rendered at the sizes asked for
# when the project is configured (the framework's binary-data step wants its files then); a changed
# drawing configures again. Sets out_var to the PNG files.

find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/resources/cantora2-updater.svg")

function(cantora_render_icon out_var)
    set(pngs)

    foreach(size IN LISTS ARGN)
        set(png "${CMAKE_BINARY_DIR}/resources/icon-${size}.png")
        file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/resources")
        execute_process(COMMAND "${RSVG_CONVERT}" -w ${size} -h ${size} -o "${png}"
                                "${CMAKE_SOURCE_DIR}/resources/cantora2-updater.svg"
                        COMMAND_ERROR_IS_FATAL ANY)
        list(APPEND pngs "${png}")
    endforeach()

    set(${out_var} ${pngs} PARENT_SCOPE)
endfunction()
