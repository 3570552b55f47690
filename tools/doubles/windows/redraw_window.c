/* Asks the window with the given title to paint itself now, as Windows does when a window is
 * uncovered. Under Wine the framework's own repaints wait for a vertical blank that never comes, so a
 * screenshot shows what was last painted; this makes it show the window's current state.
 *
 *   redraw_window.exe TITLE
 *
 * Exit code 0 when the window was found and painted. */

#include <windows.h>

int main (int argc, char** argv)
{
    if (argc != 2)
        return 2;

    HWND window = FindWindowA (NULL, argv[1]);

    if (window == NULL)
        return 1;

    return RedrawWindow (window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN)
               ? 0
               : 1;
}
