# Facts that more than one place uses, set here once. The product and the tests get them as compile
# definitions, the scripts through the build's facts file (cantora-facts.sh, sourced), the packaging
# files through these variables. Included after the firmware image, whose version is in the title.

set(CANTORA_PRODUCT_NAME "Cantora 2 Updater")
set(CANTORA_HELP_TITLE "Firmware Update Help")
set(CANTORA_STANDIN_NOTICE
    "This build carries a test image, not firmware for the device: it cannot update a Cantora 2.")

# The main window's fixed size, border and title bar included.
set(CANTORA_WINDOW_WIDTH 650)
set(CANTORA_WINDOW_HEIGHT 400)

# The window's title: the firmware's name, version and build (MainWindow::composeTitle).
math(EXPR firmware_build_number "${FIRMWARE_BUILD}")
if(firmware_build_number EQUAL 0)
    set(CANTORA_FIRMWARE_VERSION_AND_BUILD "${FIRMWARE_VERSION}")
else()
    set(CANTORA_FIRMWARE_VERSION_AND_BUILD "${FIRMWARE_VERSION} B${firmware_build_number}")
endif()
set(CANTORA_WINDOW_TITLE "Cantora 2 - version ${CANTORA_FIRMWARE_VERSION_AND_BUILD}")

# Where a user clicks, from the window's top left corner (inside its 4-pixel border and, but for the
# close button, below its 26-pixel title bar). A test of the live window checks that each lands on the
# component it names (ClickPoints in tests/AppTests.cpp), so a layout change that moves one fails there.
set(CANTORA_HELP_BUTTON "589 70")
set(CANTORA_CLOSE_BUTTON "632 15")
set(CANTORA_PORT_BOX "320 166")
set(CANTORA_UPDATE_BUTTON "589 256")

set(cantora_product_facts
    CANTORA_PRODUCT_NAME="${CANTORA_PRODUCT_NAME}"
    CANTORA_HELP_TITLE="${CANTORA_HELP_TITLE}"
    CANTORA_STANDIN_NOTICE="${CANTORA_STANDIN_NOTICE}"
    CANTORA_WINDOW_WIDTH=${CANTORA_WINDOW_WIDTH}
    CANTORA_WINDOW_HEIGHT=${CANTORA_WINDOW_HEIGHT})
set(cantora_test_facts
    CANTORA_FIRMWARE_VERSION_AND_BUILD="${CANTORA_FIRMWARE_VERSION_AND_BUILD}"
    CANTORA_WINDOW_TITLE="${CANTORA_WINDOW_TITLE}"
    CANTORA_HELP_BUTTON="${CANTORA_HELP_BUTTON}"
    CANTORA_CLOSE_BUTTON="${CANTORA_CLOSE_BUTTON}"
    CANTORA_PORT_BOX="${CANTORA_PORT_BOX}"
    CANTORA_UPDATE_BUTTON="${CANTORA_UPDATE_BUTTON}")

# Appends NAME='value' lines to the facts file, quoted for the shell.
function(cantora_add_facts)
    set(lines "")
    foreach(name IN LISTS ARGN)
        string(REPLACE "'" "'\\''" value "${${name}}")
        string(APPEND lines "${name}='${value}'\n")
    endforeach()
    file(APPEND "${CMAKE_BINARY_DIR}/cantora-facts.sh" "${lines}")
endfunction()

file(WRITE "${CMAKE_BINARY_DIR}/cantora-facts.sh" "# Made by CMake: facts of this build, sourced by the scripts.\n")
set(CANTORA_VERSION "${PROJECT_VERSION}")
set(CANTORA_STANDIN "${CANTORA_STANDIN_IMAGE}")
set(CANTORA_WINDOW_SIZE "${CANTORA_WINDOW_WIDTH}x${CANTORA_WINDOW_HEIGHT}")
set(CANTORA_TITLE "${CANTORA_WINDOW_TITLE}")
cantora_add_facts(CANTORA_PRODUCT_NAME CANTORA_VERSION CANTORA_STANDIN CANTORA_STANDIN_NOTICE CANTORA_TITLE
    CANTORA_HELP_TITLE CANTORA_WINDOW_SIZE CANTORA_HELP_BUTTON CANTORA_CLOSE_BUTTON CANTORA_PORT_BOX
    CANTORA_UPDATE_BUTTON)
