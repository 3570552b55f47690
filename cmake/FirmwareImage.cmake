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

add_custom_command(OUTPUT "${generated_dir}/FirmwareImageData.cpp"
    COMMAND firmwaretool embed "${firmware_image}" "${generated_dir}/FirmwareImageData.cpp"
            "${FIRMWARE_VERSION}" "${FIRMWARE_BUILD}"
    DEPENDS firmwaretool "${firmware_image}"
    COMMENT "Checking and embedding the firmware image"
    VERBATIM)
