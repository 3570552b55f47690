/* A USB MIDI device in user space (GadgetFS) that can stop taking data, for the end-to-end test machine.
 * Unlike the kernel's f_midi function, which drops what nobody reads, this device pushes back: while it
 * does not read its endpoint, the host's transfers stay unfinished, as with a device busy with
 * something else.
 *
 *   gadget_midi_device CAPTURE_FILE [--product NAME] [--pause-after BYTES] [--resume-after-ms MS]
 *                      [--halt 1]
 *
 * GadgetFS must be mounted on /dev/gadget. The device plugs itself into the first free dummy UDC and
 * writes every MIDI byte it takes, in order, to CAPTURE_FILE. It stops taking data once it holds
 * BYTES bytes, and on SIGUSR1; it takes data again MS milliseconds after a stop (never, without
 * --resume-after-ms), and on SIGUSR2. It unplugs itself when it ends (SIGTERM, SIGINT).
 *
 * With --halt 1 a stop halts the endpoint instead: the host's transfers are then refused at once with
 * a STALL handshake, as by a device that rejects data, rather than left waiting. (GadgetFS halts an
 * endpoint on an I/O call of the wrong direction: a write to an OUT endpoint.)
 *
 * Prints "READY" once the host has configured it, "PAUSED bytes=N t_ms=T" (then "HALTED" when it halts)
 * and "RESUMED bytes=N t_ms=T"
 * (T on the monotonic clock that the sender also prints), and "HOLDS bytes=N" at the end. */

#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static const char* product = "Cantora 2";
static long pauseAfter = -1;
static long resumeAfterMs = -1;
static int haltOnStop = 0;
static int captureFd = -1;
static int endpointFd = -1; /* open from its configuration on: a second open of it is refused */
static char endpointPath[300];

/* Guarded by lock: written by the reader, the signal thread and the ep0 loop. */
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t changed; /* on the monotonic clock */
static int paused = 0;
static long received = 0;
static double resumeAt = -1;

static double nowMs (void)
{
    struct timespec t;
    clock_gettime (CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

static void say (const char* format, ...) __attribute__ ((format (printf, 1, 2)));
static void say (const char* format, ...)
{
    va_list args;
    va_start (args, format);
    vprintf (format, args);
    va_end (args);
    putchar ('\n');
    fflush (stdout);
}

/* Called with lock held. */
static void pauseNow (void)
{
    if (paused)
        return;

    paused = 1;
    resumeAt = resumeAfterMs >= 0 ? nowMs() + (double) resumeAfterMs : -1;
    say ("PAUSED bytes=%ld t_ms=%.1f", received, nowMs());

    if (haltOnStop)
    {
        const uint8_t wrongWay = 0;
        const ssize_t n = write (endpointFd, &wrongWay, 1); /* refused, and the endpoint halted */
        say ("HALTED result=%zd errno=%d", n, n < 0 ? errno : 0);
    }
}

static void resumeNow (void)
{
    if (! paused)
        return;

    paused = 0;
    resumeAt = -1;
    say ("RESUMED bytes=%ld t_ms=%.1f", received, nowMs());
    pthread_cond_broadcast (&changed);
}

/* How many MIDI bytes a USB-MIDI event packet carries, by its code index number. */
static int midiBytesOf (uint8_t header)
{
    static const int sizes[16] = { 0, 0, 2, 3, 3, 1, 2, 3, 3, 3, 3, 3, 2, 2, 3, 1 };
    return sizes[header & 0x0f];
}

static void* readEndpoint (void* unused)
{
    (void) unused;

    for (;;)
    {
        pthread_mutex_lock (&lock);

        for (;;)
        {
            if (! paused && pauseAfter >= 0 && received >= pauseAfter)
            {
                pauseAfter = -1;
                pauseNow();
            }

            if (paused && resumeAt >= 0 && nowMs() >= resumeAt)
                resumeNow();

            if (! paused)
                break;

            if (resumeAt >= 0)
            {
                const struct timespec until = {
                    (time_t) (resumeAt / 1000.0),
                    (long) ((resumeAt - 1000.0 * (double) (time_t) (resumeAt / 1000.0)) * 1e6)
                };
                pthread_cond_timedwait (&changed, &lock, &until);
            }
            else
            {
                pthread_cond_wait (&changed, &lock);
            }
        }

        pthread_mutex_unlock (&lock);

        uint8_t packets[512];
        const ssize_t n = read (endpointFd, packets, sizeof packets);

        if (n < 0)
        {
            if (errno == EINTR)
                continue;

            break; /* unplugged */
        }

        uint8_t midi[384];
        size_t length = 0;

        for (ssize_t i = 0; i + 3 < n; i += 4)
        {
            const int count = midiBytesOf (packets[i]);
            memcpy (midi + length, packets + i + 1, (size_t) count);
            length += (size_t) count;
        }

        if (length > 0 && write (captureFd, midi, length) != (ssize_t) length)
            say ("FAIL cannot write the capture");

        pthread_mutex_lock (&lock);
        received += (long) length;
        pthread_mutex_unlock (&lock);
    }

    return NULL;
}

static void* handleSignals (void* set)
{
    for (;;)
    {
        int signalNumber = 0;

        if (sigwait ((sigset_t*) set, &signalNumber) != 0)
            continue;

        pthread_mutex_lock (&lock);

        if (signalNumber == SIGUSR1)
            pauseNow();
        else if (signalNumber == SIGUSR2)
            resumeNow();

        const long held = received;
        pthread_mutex_unlock (&lock);

        if (signalNumber == SIGTERM || signalNumber == SIGINT)
        {
            say ("HOLDS bytes=%ld", held);
            exit (0); /* closing the controller file unplugs the device */
        }
    }

    return NULL;
}

/* ---------------------------------------------------------------------------------------------- */
/* Descriptors: a class-compliant USB MIDI 1.0 device with one output (host to device) port. */

#define PUT16(p, v) ((p)[0] = (uint8_t) ((v) &0xff), (p)[1] = (uint8_t) ((v) >> 8))

static int endpointAddress = 0x02;

/* The configuration for a speed: its maximum bulk packet size differs. */
static size_t configuration (uint8_t* out, int maxPacket)
{
    uint8_t* p = out;

    const uint8_t config[] = { 9, USB_DT_CONFIG, 0, 0, 2, 1, 0, 0xC0, 50 };
    memcpy (p, config, sizeof config);
    p += sizeof config;

    /* Audio control: its class-specific header names the MIDI streaming interface. */
    const uint8_t control[] = { 9, USB_DT_INTERFACE, 0, 0, 0, 1, 1, 0, 0, 9, 0x24, 0x01, 0x00, 0x01, 9, 0, 1,
                                1 };
    memcpy (p, control, sizeof control);
    p += sizeof control;

    /* MIDI streaming: an embedded MIDI IN jack fed by the endpoint, an external MIDI OUT jack. */
    const uint8_t streaming[] = { 9,    USB_DT_INTERFACE,
                                  1,    0,
                                  1,    1,
                                  3,    0,
                                  0,    7,
                                  0x24, 0x01,
                                  0x00, 0x01,
                                  36,   0,
                                  6,    0x24,
                                  2,    1,
                                  1,    0,
                                  9,    0x24,
                                  3,    2,
                                  2,    1,
                                  1,    1,
                                  0 };
    memcpy (p, streaming, sizeof streaming);
    p += sizeof streaming;

    const uint8_t endpoint[] = { 9,
                                 USB_DT_ENDPOINT,
                                 (uint8_t) endpointAddress,
                                 USB_ENDPOINT_XFER_BULK,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 5,
                                 0x25,
                                 0x01,
                                 1,
                                 1 };
    memcpy (p, endpoint, sizeof endpoint);
    PUT16 (p + 4, maxPacket);
    p += sizeof endpoint;

    PUT16 (out + 2, (unsigned) (p - out));
    return (size_t) (p - out);
}

static int configureEndpoint (void)
{
    int fd = open (endpointPath, O_RDWR);

    if (fd < 0)
        return -1;

    uint8_t buffer[4 + 2 * USB_DT_ENDPOINT_SIZE] = { 1, 0, 0, 0 };

    for (int speed = 0; speed < 2; ++speed)
    {
        uint8_t* d = buffer + 4 + speed * USB_DT_ENDPOINT_SIZE;
        d[0] = USB_DT_ENDPOINT_SIZE;
        d[1] = USB_DT_ENDPOINT;
        d[2] = (uint8_t) endpointAddress;
        d[3] = USB_ENDPOINT_XFER_BULK;
        PUT16 (d + 4, speed == 0 ? 64 : 512);
        d[6] = 0;
    }

    const int ok = write (fd, buffer, sizeof buffer) == (ssize_t) sizeof buffer;
    /* The endpoint stays configured while a file of it is open: this one stays open. */
    return ok ? fd : -1;
}

static void answerString (int fd, int index)
{
    uint8_t d[128] = { 0 };
    const char* text = index == 1 ? "Korvane" : index == 2 ? product : NULL;

    if (index == 0)
    {
        const uint8_t languages[] = { 4, USB_DT_STRING, 0x09, 0x04 };
        memcpy (d, languages, sizeof languages);
    }
    else if (text != NULL)
    {
        size_t n = strlen (text);
        if (n > 60)
            n = 60;
        d[0] = (uint8_t) (2 + 2 * n);
        d[1] = USB_DT_STRING;
        for (size_t i = 0; i < n; ++i)
            d[2 + 2 * i] = (uint8_t) text[i];
    }
    else
    {
        uint8_t nothing;
        (void) ! read (fd, &nothing, 0); /* stall */
        return;
    }

    if (write (fd, d, d[0]) < 0)
        say ("note: a string descriptor was not taken: %s", strerror (errno));
}

static int findEndpoint (void)
{
    DIR* dir = opendir ("/dev/gadget");

    if (dir == NULL)
        return -1;

    int found = -1;

    for (struct dirent* e; (e = readdir (dir)) != NULL;)
    {
        int number = 0;
        char rest[64] = "";

        if (sscanf (e->d_name, "ep%d%63s", &number, rest) == 2 && strncmp (rest, "out", 3) == 0 &&
            (strstr (rest, "bulk") != NULL || strcmp (rest, "out") == 0) && (found < 0 || number == 2))
        {
            found = number;
            snprintf (endpointPath, sizeof endpointPath, "/dev/gadget/%s", e->d_name);
        }
    }

    closedir (dir);
    return found;
}

int main (int argc, char** argv)
{
    if (argc < 2)
    {
        fprintf (stderr, "usage: see the top of gadget_midi_device.c\n");
        return 2;
    }

    for (int i = 2; i + 1 < argc; i += 2)
    {
        if (strcmp (argv[i], "--product") == 0)
            product = argv[i + 1];
        else if (strcmp (argv[i], "--pause-after") == 0)
            pauseAfter = atol (argv[i + 1]);
        else if (strcmp (argv[i], "--resume-after-ms") == 0)
            resumeAfterMs = atol (argv[i + 1]);
        else if (strcmp (argv[i], "--halt") == 0)
            haltOnStop = atoi (argv[i + 1]);
        else
            return 2;
    }

    captureFd = open (argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);

    pthread_condattr_t monotonic;
    pthread_condattr_init (&monotonic);
    pthread_condattr_setclock (&monotonic, CLOCK_MONOTONIC);
    pthread_cond_init (&changed, &monotonic);

    if (captureFd < 0)
        return 1;

    /* Signals go to one thread of their own. */
    static sigset_t signals;
    sigemptyset (&signals);
    sigaddset (&signals, SIGUSR1);
    sigaddset (&signals, SIGUSR2);
    sigaddset (&signals, SIGTERM);
    sigaddset (&signals, SIGINT);
    pthread_sigmask (SIG_BLOCK, &signals, NULL);
    pthread_t signalThread;
    pthread_create (&signalThread, NULL, handleSignals, &signals);

    /* The controller file is named after the UDC driver; the one regular file before binding. */
    char controller[300] = "";
    DIR* dir = opendir ("/dev/gadget");

    for (struct dirent* e; dir != NULL && (e = readdir (dir)) != NULL;)
        if (e->d_name[0] != '.')
            snprintf (controller, sizeof controller, "/dev/gadget/%s", e->d_name);

    if (dir != NULL)
        closedir (dir);

    const int ep0 = open (controller, O_RDWR);

    if (ep0 < 0)
    {
        say ("FAIL cannot open the controller file '%s': %s", controller, strerror (errno));
        return 1;
    }

    uint8_t all[4 + 2 * 256 + USB_DT_DEVICE_SIZE] = { 0 };
    size_t length = 4;
    length += configuration (all + length, 64);
    length += configuration (all + length, 512);

    const uint8_t device[USB_DT_DEVICE_SIZE] = { USB_DT_DEVICE_SIZE,
                                                 USB_DT_DEVICE,
                                                 0x00,
                                                 0x02,
                                                 0,
                                                 0,
                                                 0,
                                                 64,
                                                 0x6b,
                                                 0x1d,
                                                 0x05,
                                                 0x01,
                                                 0x00,
                                                 0x01,
                                                 1,
                                                 2,
                                                 0,
                                                 1 };
    memcpy (all + length, device, sizeof device);
    length += sizeof device;

    if (write (ep0, all, length) != (ssize_t) length)
    {
        say ("FAIL the controller refused the descriptors: %s", strerror (errno));
        return 1;
    }

    if (findEndpoint() < 0)
    {
        say ("FAIL no bulk OUT endpoint in /dev/gadget");
        return 1;
    }

    pthread_t reader;

    for (;;)
    {
        struct usb_gadgetfs_event events[5];
        const ssize_t n = read (ep0, events, sizeof events);

        if (n < 0)
        {
            if (errno == EINTR)
                continue;

            say ("FAIL reading the controller: %s", strerror (errno));
            return 1;
        }

        for (ssize_t i = 0; i < n / (ssize_t) sizeof events[0]; ++i)
        {
            const struct usb_gadgetfs_event* e = &events[i];

            if (e->type == GADGETFS_DISCONNECT)
                say ("DISCONNECTED");

            if (e->type != GADGETFS_SETUP)
                continue;

            const struct usb_ctrlrequest* r = &e->u.setup;
            uint8_t nothing;

            if (r->bRequest == USB_REQ_GET_DESCRIPTOR && (r->wValue >> 8) == USB_DT_STRING)
            {
                answerString (ep0, r->wValue & 0xff);
            }
            else if (r->bRequest == USB_REQ_SET_CONFIGURATION && r->bRequestType == 0)
            {
                if ((r->wValue & 0xff) != 0 && endpointFd < 0)
                {
                    endpointFd = configureEndpoint();

                    if (endpointFd < 0 || pthread_create (&reader, NULL, readEndpoint, NULL) != 0)
                        say ("FAIL cannot configure %s: %s", endpointPath, strerror (errno));
                }

                (void) ! read (ep0, &nothing, 0); /* acknowledge */

                if (endpointFd >= 0)
                    say ("READY endpoint=%s", endpointPath);
            }
            else if (r->bRequest == USB_REQ_SET_INTERFACE && r->bRequestType == USB_RECIP_INTERFACE)
            {
                (void) ! read (ep0, &nothing, 0);
            }
            else if ((r->bRequestType & USB_DIR_IN) != 0)
            {
                (void) ! read (ep0, &nothing, 0); /* stall */
            }
            else
            {
                (void) ! write (ep0, &nothing, 0); /* stall */
            }
        }
    }
}
