# The firmware image: the stand-in image made by the host tool, or a vendor image given with
# -DFIRMWARE_SYX=path/to/image.syx. Either way the host tool checks it before it becomes a program.

set(FIRMWARE_SYX "" CACHE FILEPATH "Firmware image (.syx) to compile in; empty for the stand-in image")
set(FIRMWARE_VERSION "1.0.02" CACHE STRING "Version text of the compiled-in firmware")
set(FIRMWARE_BUILD "37" CACHE STRING "Build number of the compiled-in firmware (0 for none)")

# The host tool runs during the build: a cross build takes one built for the build machine.
if(CMAKE_CROSSCOMPILING)
    set(CANTORA_FIRMWARETOOL "" CACHE FILEPATH "firmwaretool built for the build machine")
    if(NOT EXISTS "${CANTORA_FIRMWARETOOL}")
        message(FATAL_ERROR "A cross build needs -DCANTORA_FIRMWARETOOL=<firmwaretool built for this machine>")
    endif()
    add_executable(firmwaretool IMPORTED)
    set_target_properties(firmwaretool PROPERTIES IMPORTED_LOCATION "${CANTORA_FIRMWARETOOL}")
else()
    add_executable(firmwaretool
        tools/firmwaretool.cpp
        firmware/SysexFraming.cpp
        firmware/StandInImage.cpp)
    target_link_libraries(firmwaretool PRIVATE juce::juce_recommended_warning_flags)
endif()

set(generated_dir "${CMAKE_BINARY_DIR}/generated")
file(MAKE_DIRECTORY "${generated_dir}")

if(FIRMWARE_SYX)
    get_filename_component(firmware_image "${FIRMWARE_SYX}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
    if(NOT EXISTS "${firmware_image}")
        message(FATAL_ERROR "FIRMWARE_SYX: no such file: ${firmware_image}")
    endif()
    set(CANTORA_STANDIN_IMAGE 0)
else()
    set(firmware_image "${generated_dir}/cantora2-standin.syx")
    add_custom_command(OUTPUT "${firmware_image}"
        COMMAND firmwaretool generate "${firmware_image}"
        DEPENDS firmwaretool
        COMMENT "Generating the stand-in firmware image"
        VERBATIM)
    set(CANTORA_STANDIN_IMAGE 1)
endif()

# Facts that tests and scripts use, in one place: the program's version (the project's, which every
# release file carries), whether it carries the stand-in image, the window's title, and where a user
# clicks in the window (from its top left corner, inside the 4-pixel border and below the 26-pixel title
# bar: the Help button, the close button, the port box and the update button). The scripts read the
# generated file; the packaging files add the names of what they make.
math(EXPR firmware_build_number "${FIRMWARE_BUILD}")
if(firmware_build_number EQUAL 0)
    set(CANTORA_FIRMWARE_VERSION_AND_BUILD "${FIRMWARE_VERSION}")
else()
    set(CANTORA_FIRMWARE_VERSION_AND_BUILD "${FIRMWARE_VERSION} B${firmware_build_number}")
endif()
set(CANTORA_WINDOW_TITLE "Cantora 2 - version ${CANTORA_FIRMWARE_VERSION_AND_BUILD}")
file(WRITE "${CMAKE_BINARY_DIR}/cantora-facts.sh" "# Made by CMake: facts of this build, sourced by the scripts.
CANTORA_VERSION='${PROJECT_VERSION}'
CANTORA_STANDIN=${CANTORA_STANDIN_IMAGE}
CANTORA_TITLE='${CANTORA_WINDOW_TITLE}'
CANTORA_HELP_BUTTON='589 70'
CANTORA_CLOSE_BUTTON='632 15'
CANTORA_PORT_BOX='320 166'
CANTORA_UPDATE_BUTTON='589 256'
")

add_custom_command(OUTPUT "${generated_dir}/FirmwareImageData.cpp"
    COMMAND firmwaretool embed "${firmware_image}" "${generated_dir}/FirmwareImageData.cpp"
            "${FIRMWARE_VERSION}" "${FIRMWARE_BUILD}"
    DEPENDS firmwaretool "${firmware_image}"
    COMMENT "Checking and embedding the firmware image"
    VERBATIM)
