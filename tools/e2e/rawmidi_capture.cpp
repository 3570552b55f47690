// Captures what a raw MIDI input receives, into a file, with a 1 MiB buffer so that a slow reader loses
// nothing. Ends when the expected number of bytes has arrived, or when nothing more has arrived for
// IDLE_MS after the first byte (or after TIMEOUT_MS with no byte at all), or when the device goes away.
//
//   rawmidi_capture DEVICE OUT_FILE EXPECTED_BYTES IDLE_MS TIMEOUT_MS
//
// Writes "READY" to stdout once the port is open, and "CAPTURED n" at the end.

#include <alsa/asoundlib.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main (int argc, char** argv)
{
    if (argc != 6)
    {
        std::fprintf (stderr, "usage: rawmidi_capture DEVICE OUT_FILE EXPECTED_BYTES IDLE_MS TIMEOUT_MS\n");
        return 2;
    }

    const long expected = std::atol (argv[3]);
    const int idleMs = std::atoi (argv[4]);
    const int timeoutMs = std::atoi (argv[5]);

    snd_rawmidi_t* input = nullptr;

    if (snd_rawmidi_open (&input, nullptr, argv[1], SND_RAWMIDI_NONBLOCK) < 0)
    {
        std::fprintf (stderr, "rawmidi_capture: cannot open %s\n", argv[1]);
        return 1;
    }

    snd_rawmidi_params_t* params = nullptr;
    snd_rawmidi_params_alloca (&params);
    snd_rawmidi_params_current (input, params);
    snd_rawmidi_params_set_buffer_size (input, params, 1 << 20);
    snd_rawmidi_params (input, params);

    std::FILE* out = std::fopen (argv[2], "wb");

    if (out == nullptr)
        return 1;

    std::printf ("READY\n");
    std::fflush (stdout);

    const int numFds = snd_rawmidi_poll_descriptors_count (input);
    std::vector<pollfd> fds ((size_t) numFds);
    snd_rawmidi_poll_descriptors (input, fds.data(), (unsigned int) numFds);

    std::vector<unsigned char> buffer (65536);
    long total = 0;
    auto last = std::chrono::steady_clock::now();

    while (total < expected)
    {
        const int wait = total == 0 ? timeoutMs : idleMs;
        poll (fds.data(), (nfds_t) numFds, 50);

        const auto n = snd_rawmidi_read (input, buffer.data(), buffer.size());

        // The device went away (unplugged): what arrived so far is the capture.
        if (n < 0 && n != -EAGAIN && n != -EINTR)
            break;

        if (n > 0)
        {
            std::fwrite (buffer.data(), 1, (size_t) n, out);
            total += n;
            last = std::chrono::steady_clock::now();
            continue;
        }

        const auto quiet =
            std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now() - last);

        if (quiet.count() > wait)
            break;
    }

    std::fclose (out);
    snd_rawmidi_close (input);
    std::printf ("CAPTURED %ld\n", total);
    return 0;
}
