// Start-up to a shown window, and the largest resident memory, of window programs on this display.
//
//   startup_benchmark RUNS TITLE PROGRAM [TITLE PROGRAM ...]
//
// For each program, RUNS times: starts it, waits for the X server to map a top-level window with the
// title and then for the window to be painted (its title bar holds more than its background colour),
// lets it settle for half a second, ends it, and reads its peak resident memory from the kernel.
// Prints the median of each figure, and each program's ratio to the first.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

// The window's name as it is stored, whatever its encoding (the framework stores UTF-8).
std::string windowName (Display* display, Window window)
{
    XTextProperty property {};

    if (XGetWMName (display, window, &property) == 0 || property.value == nullptr)
        return {};

    std::string result (reinterpret_cast<const char*> (property.value), property.nitems);
    XFree (property.value);
    return result;
}

struct Figures
{
    double mappedMs = -1, paintedMs = -1;
    long maxRssKb = 0;
};

// Painted once the title bar at the top of the window holds text: more than a few colours.
bool titleBarPainted (Display* display, Window window)
{
    XWindowAttributes attributes {};

    if (XGetWindowAttributes (display, window, &attributes) == 0 || attributes.map_state != IsViewable)
        return false;

    const int width = std::min (attributes.width, 400);
    XImage* image =
        XGetImage (display, window, 0, 0, static_cast<unsigned int> (width), 20, AllPlanes, ZPixmap);

    if (image == nullptr)
        return false;

    std::vector<unsigned long> colours;

    for (int y = 0; y < 20 && colours.size() < 4; ++y)
        for (int x = 0; x < width && colours.size() < 4; ++x)
            if (const auto pixel = XGetPixel (image, x, y);
                std::find (colours.begin(), colours.end(), pixel) == colours.end())
                colours.push_back (pixel);

    XDestroyImage (image);
    return colours.size() >= 4;
}

// The window may be mapped before its name is set, or named after it is mapped: both are watched.
Figures measure (Display* display, const std::string& title, const char* program)
{
    const Window root = DefaultRootWindow (display);
    XSelectInput (display, root, SubstructureNotifyMask);
    XSync (display, True);

    const auto start = Clock::now();
    const pid_t pid = fork();

    if (pid == 0)
    {
        execl (program, program, static_cast<char*> (nullptr));
        _exit (127);
    }

    Figures f;
    std::vector<Window> mapped;
    Window found = 0;
    const auto elapsedMs = [&]
    { return std::chrono::duration<double, std::milli> (Clock::now() - start).count(); };

    while (f.paintedMs < 0 && elapsedMs() < 20000.0)
    {
        while (XPending (display) > 0)
        {
            XEvent event;
            XNextEvent (display, &event);

            if (event.type == MapNotify)
                mapped.push_back (event.xmap.window);
        }

        for (const auto w : mapped)
            if (found == 0 && windowName (display, w) == title)
            {
                found = w;
                f.mappedMs = elapsedMs();
            }

        if (found != 0 && titleBarPainted (display, found))
            f.paintedMs = elapsedMs();
        else
            std::this_thread::sleep_for (std::chrono::microseconds (500));
    }

    std::this_thread::sleep_for (std::chrono::milliseconds (500));
    kill (pid, SIGTERM);

    int status = 0;
    rusage usage {};
    wait4 (pid, &status, 0, &usage);
    f.maxRssKb = usage.ru_maxrss;
    XSelectInput (display, root, NoEventMask);
    return f;
}

template <typename T>
T median (std::vector<T> values)
{
    std::sort (values.begin(), values.end());
    return values[values.size() / 2];
}
} // namespace

int main (int argc, char** argv)
{
    if (argc < 4 || (argc - 2) % 2 != 0)
    {
        std::fprintf (stderr, "usage: startup_benchmark RUNS TITLE PROGRAM [TITLE PROGRAM ...]\n");
        return 2;
    }

    Display* display = XOpenDisplay (nullptr);

    if (display == nullptr)
    {
        std::fprintf (stderr, "startup_benchmark: no display\n");
        return 1;
    }

    const int runs = std::max (1, std::atoi (argv[1]));
    double firstMapped = 0, firstPainted = 0, firstRss = 0;

    std::printf ("\nStart-up to a shown window, mapped and then painted, and largest resident memory "
                 "(median of %d starts)\n",
                 runs);

    std::printf ("%-32s %16s %20s %16s\n", "", "mapped ms", "painted ms", "resident MB");

    for (int i = 2; i + 1 < argc; i += 2)
    {
        std::vector<double> mappedTimes, paintedTimes, rss;

        for (int run = 0; run < runs; ++run)
        {
            const auto f = measure (display, argv[i], argv[i + 1]);

            if (f.paintedMs < 0)
            {
                std::printf ("%s: no painted window titled \"%s\"\n", argv[i + 1], argv[i]);
                return 1;
            }

            mappedTimes.push_back (f.mappedMs);
            paintedTimes.push_back (f.paintedMs);
            rss.push_back (static_cast<double> (f.maxRssKb) / 1024.0);
        }

        const double mapped = median (mappedTimes), painted = median (paintedTimes), memory = median (rss);

        if (i == 2)
        {
            firstMapped = mapped;
            firstPainted = painted;
            firstRss = memory;
        }

        std::printf ("%-32s %8.1f (%.2f x) %12.1f (%.2f x) %8.1f (%.2f x)\n", argv[i], mapped,
                     mapped / firstMapped, painted, painted / firstPainted, memory, memory / firstRss);
    }

    XCloseDisplay (display);
    return 0;
}
