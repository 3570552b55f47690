/* The plain sender: what the program's ALSA port does at its core, and nothing else. One blocking
 * write per message (at most the port's 4,096-byte buffer at a time), each drained before the next.
 * The end-to-end run times it beside the program.
 *
 *   plain_sender DEVICE IMAGE.syx
 *
 * Prints "RESULT ms=..." and exits 0 when every write and drain succeeded. */

#include <alsa/asoundlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double nowMs (void)
{
    struct timespec t;
    clock_gettime (CLOCK_MONOTONIC, &t);
    return (double) t.tv_sec * 1000.0 + (double) t.tv_nsec / 1.0e6;
}

int main (int argc, char** argv)
{
    if (argc != 3)
    {
        fprintf (stderr, "usage: plain_sender DEVICE IMAGE.syx\n");
        return 2;
    }

    FILE* file = fopen (argv[2], "rb");
    static unsigned char image[4 << 20];
    const size_t size = file != NULL ? fread (image, 1, sizeof (image), file) : 0;
    snd_rawmidi_t* output = NULL;

    if (size == 0 || snd_rawmidi_open (NULL, &output, argv[1], 0) < 0)
    {
        fprintf (stderr, "plain_sender: cannot read %s or open %s\n", argv[2], argv[1]);
        return 1;
    }

    const double start = nowMs();
    size_t begin = 0;

    for (size_t end = 0; end < size; ++end)
    {
        if (image[end] != 0xF7)
            continue;

        for (size_t at = begin; at <= end;)
        {
            const size_t chunk = end + 1 - at < 4096 ? end + 1 - at : 4096;
            const ssize_t written = snd_rawmidi_write (output, image + at, chunk);

            if (written <= 0 || snd_rawmidi_drain (output) < 0)
            {
                fprintf (stderr, "plain_sender: the port failed\n");
                return 1;
            }

            at += (size_t) written;
        }

        begin = end + 1;
    }

    printf ("RESULT ms=%.1f\n", nowMs() - start);
    snd_rawmidi_close (output);
    return 0;
}
