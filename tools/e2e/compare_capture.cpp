// Compares what the device received with the firmware image, message by message.
//
//   compare_capture IMAGE.syx CAPTURE.bin
//   compare_capture --stop-before IMAGE.syx K
//
// Prints "intact" when the two are the same byte for byte, "prefix" when something arrived and it is
// the start of the image and nothing else; otherwise the first message that differs and how many bytes
// arrived. Exits 0 only when intact.
//
// With --stop-before, prints where a device must stop taking data so that at least K bytes never reach
// it: the offset of the message that holds the (K+1)-th byte from the end. (The sender drains every
// message before the next, so a device that stops reading there takes nothing of that message.)

#include "firmware/SysexFraming.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{
std::vector<std::uint8_t> readAll (const char* path)
{
    std::ifstream in (path, std::ios::binary);
    return { std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>() };
}
} // namespace

int main (int argc, char** argv)
{
    if (argc == 4 && std::string (argv[1]) == "--stop-before")
    {
        const auto image = readAll (argv[2]);
        const auto keep = image.size() - std::min<std::size_t> (image.size(), std::stoul (argv[3]) + 1);
        std::size_t offset = 0;

        for (const auto length : sysex::splitMessages (image.data(), image.size()))
        {
            if (offset + length > keep)
                break;

            offset += length;
        }

        std::printf ("%zu\n", offset);
        return 0;
    }

    if (argc != 3)
    {
        std::fprintf (stderr, "usage: compare_capture IMAGE.syx CAPTURE.bin\n");
        return 2;
    }

    const auto image = readAll (argv[1]);
    const auto capture = readAll (argv[2]);

    if (image == capture)
    {
        std::printf ("intact: %zu bytes, %zu messages\n", capture.size(),
                     sysex::countMessages (image.data(), image.size()));
        return 0;
    }

    if (! capture.empty() && capture.size() < image.size() &&
        std::equal (capture.begin(), capture.end(), image.begin()))
    {
        std::printf ("prefix: received %zu of %zu bytes, %zu whole messages\n", capture.size(), image.size(),
                     sysex::countMessages (capture.data(), capture.size()));
        return 1;
    }

    std::size_t offset = 0, message = 0;

    for (const auto length : sysex::splitMessages (image.data(), image.size()))
    {
        if (offset + length > capture.size() ||
            ! std::equal (image.begin() + (long) offset, image.begin() + (long) (offset + length),
                          capture.begin() + (long) offset))
            break;

        offset += length;
        ++message;
    }

    std::printf (
        "damaged: first differing message %zu (at byte %zu); received %zu of %zu bytes (%.1f%% lost)\n",
        message + 1, offset, capture.size(), image.size(),
        capture.size() >= image.size()
            ? 0.0
            : 100.0 * double (image.size() - capture.size()) / double (image.size()));
    return 1;
}
