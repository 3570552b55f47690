#pragma once

/** Ends the process at once with exit code 0, running no destructor and no exit handler.

    For a close whose transfer thread is still inside a driver call that does not return: a normal
    shut-down would free the port chooser and the firmware while that thread may still use them, and
    its wait for the thread would never end. The operating system closes what the process holds, the
    single-instance lock and the device included, but not System V shared memory, where X11 windows
    keep their images: callers take their windows off the desktop first. No thread is killed on its
    own. */
[[noreturn]] void endProcessNow();
