#include "HelpText.h"

// The firmware recovery procedure, one line of source per line of text. Every blank belongs to the text.
const char* const helpText =
    "Firmware Recovery Procedure. \n"
    "The procedure requires a PC or Mac with a standard USB Interface and the specified DC power supply. \n"
    "\n"
    "Do the following steps before you start the firmware update application on your PC or Mac: \n"
    " 1. Unplug all cables from the device. \n"
    " 2. Connect the device to a PC or Mac with the USB cable. \n"
    " 3. Insert the DC power supply plug. \n"
    " 4. Wait 10 seconds. \n"
    "\n"
    "Now your PC or Mac will recognize the device which is ready to receive a new firmware: \n"
    " 5. Launch the firmware update application (or restart it if it's already running). \n"
    " 6. (STEP1) Select the device in the combo box. \n"
    " 7. (STEP2) Press the update button when it turns green. \n"
    " 8. Wait for the progress bar to reach 100% and for the device to automatically restart. \n"
    "    Note: it will take several seconds to complete the update *after* the progress bar \n"
    "          reaches 100%.  Please wait for the device to reboot on its own. \n"
    "\n"
    "Trouble Shooting:\n"
    " - Please quit any MIDI related application on your PC or Mac.\n";
