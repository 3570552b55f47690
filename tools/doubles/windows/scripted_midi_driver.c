/* A MIDI output driver for Wine whose behaviour each run chooses: output ports, one per device, named
 * "Cantora 2" unless the run names them, that capture what they receive and play the faults a real driver
 * can cause. Wine's winmm loads it when the prefix's HKCU\Software\Wine\Drivers "Audio" names it
 * (winecantoramidi.drv: "cantoramidi"); the program's multimedia MIDI calls then reach modMessage below.
 *
 * Devices are named by letter, A, B, ..., and listed in that order: A at number 0, B at 1. A device
 * unplugged leaves the list and the devices behind it move up one number; one plugged in again comes back
 * at the end of the list.
 *
 * The program takes the list of ports by asking each device number in turn for its capabilities and
 * path, number 0 first: each question to number 0 for its capabilities begins a list. Lists count from 0;
 * under Wine, list 0 is taken as winmm starts (the names alone), just before the program's first.
 *
 * Chosen through the environment (message numbers count from 0 in each open; a fault applies to device A
 * in its first CANTORA_MIDI_FAULTY_OPENS opens, 1 unless set):
 *   CANTORA_MIDI_DEVICES  how many devices of the same name (1 unless set, at most 4)
 *   CANTORA_MIDI_NAME     their name ("Cantora 2" unless set; at most 32 characters). A name of 32 fills
 *                         the field with no terminator, and the driver then puts a letter that changes
 *                         with every answer in the field after it (a port's voice count, which means
 *                         nothing for a port): a reader that runs past the name reads another each time
 *   CANTORA_MIDI_PATHS    each device answers a Plug and Play interface path of its own,
 *                         \\?\USB#VID_FFFF&PID_0001#A1#{...} for A, #B1# for B, unless this is
 *                         "0": none (a driver that gives none);
 *                         "shared": every device answers A's path;
 *                         "odd": an odd size, one byte short of the path without its terminator, and
 *                         the driver writes that many bytes: the last character by its low byte, and no
 *                         terminator;
 *                         "wide": the size is written as 8 bytes, not the 4 of a ULONG
 *   CANTORA_MIDI_CAPS_FAIL_AT  N: device A's capabilities answer in list N fails (a driver that fails
 *                         once)
 *   CANTORA_MIDI_PATH_FAIL_AT  N: device A's path answer in list N fails
 *   CANTORA_MIDI_GONE_AT_LIST  N: device A leaves as list N begins
 *   CANTORA_MIDI_CAPTURE  folder that receives, for each device, the bytes of every long message it
 *                         receives, in order: A.bin, B.bin, ...
 *   CANTORA_MIDI_LOG      file that logs every message the driver receives, one line each: the tick, the
 *                         letter of the device concerned ("-" for none), the message
 *   CANTORA_MIDI_PACE     "baud": a header is done after the message's time at 31,250 baud
 *                         (otherwise at once)
 *   CANTORA_MIDI_STOP_AT  N: from message N on, headers are never done (a device that stops)
 *   CANTORA_MIDI_UNPLUG_AT N: from message N on, MMSYSERR_NODRIVER, and the device leaves the list;
 *                         "end": the same as soon as the header of message CANTORA_MIDI_MESSAGES - 1
 *                         (the last) is done; "open": device A leaves as an open of its number arrives,
 *                         and the open reaches the device that takes the number
 *   CANTORA_MIDI_REPLUG   "1": a device unplugged comes back once its handle has closed
 *   CANTORA_MIDI_HANG_AT  N: the call that hands message N over never returns
 *   CANTORA_MIDI_CLOSE_DELAY_MS  a close takes this long (a driver slow to give headers back)
 *   CANTORA_MIDI_ALLOCATED  "1": an open while a handle of the device is still open answers
 *                         MMSYSERR_ALLOCATED
 */

#include <windows.h>
#include <malloc.h>
#include <mmddk.h>
#include <mmsystem.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "midi/native/WinDeviceInterfaceQuery.h"

#ifndef DRVM_INIT
#define DRVM_INIT 100
#endif


/* winmm's own, which MinGW's headers do not declare. */
BOOL WINAPI DriverCallback (DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message, DWORD_PTR user,
                            DWORD_PTR p1, DWORD_PTR p2);

/* ---------------------------------------------------------------------------------------------- */
/* What Wine's audio device layer asks of a driver before winmm uses it as a MIDI driver. */

__declspec(dllexport) int WINAPI GetPriority (void)
{
    return 3;
}

__declspec(dllexport) HRESULT WINAPI
    GetEndpointIDs (int flow, WCHAR*** ids, GUID** guids, UINT* count, UINT* defaultIndex)
{
    (void) flow;
    *ids = NULL;
    *guids = NULL;
    *count = 0;
    *defaultIndex = 0;
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI GetAudioEndpoint (void* guid, void* device, void** client)
{
    (void) guid;
    (void) device;
    (void) client;
    return E_NOTIMPL;
}

__declspec(dllexport) HRESULT WINAPI GetAudioSessionManager (void* device, void** manager)
{
    (void) device;
    (void) manager;
    return E_NOTIMPL;
}

__declspec(dllexport) LRESULT CALLBACK
    DriverProc (DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2)
{
    (void) id;
    (void) driver;
    (void) p1;
    (void) p2;

    switch (message)
    {
        case DRV_LOAD:
        case DRV_FREE:
        case DRV_OPEN:
        case DRV_CLOSE:
        case DRV_ENABLE:
        case DRV_DISABLE:
            return 1;
        default:
            return 0;
    }
}

/* ---------------------------------------------------------------------------------------------- */

#define MAX_DEVICES 4

typedef struct
{
    char letter;
    WCHAR path[80]; /* its Plug and Play interface path */
    BOOL unplugged;
    int openHandles, opens;
    long messagesThisOpen;
    MIDIOPENDESC openDesc;
    DWORD openFlags;
} Device;

typedef struct
{
    Device* device;
    MIDIHDR* header;
    DWORD dueAt;  /* GetTickCount() */
    BOOL stalled; /* never due: only a reset gives it back */
} Pending;

static CRITICAL_SECTION lock;   /* guards everything below */
static CONDITION_VARIABLE work; /* a header queued, or a port closing */
static Device devices[MAX_DEVICES];
static int numDevices = 0;
static Device* listed[MAX_DEVICES]; /* the devices present, by number */
static int numListed = 0;
static Pending pending[64];
static int numPending = 0;
static HANDLE completer = NULL;
static long list = -1; /* the list being taken: each question to number 0 for its capabilities begins one */

static long setting (const char* name, long otherwise)
{
    const char* value = getenv (name);
    return value != NULL && *value != 0 ? atol (value) : otherwise;
}

/* Whether the setting is this word. */
static BOOL settingIs (const char* name, const char* word)
{
    const char* value = getenv (name);
    return value != NULL && strcmp (value, word) == 0;
}

static void setUpDevices (void)
{
    const long wanted = setting ("CANTORA_MIDI_DEVICES", 1);
    numDevices = wanted < 1 ? 1 : wanted > MAX_DEVICES ? MAX_DEVICES : (int) wanted;

    for (int i = 0; i < numDevices; ++i)
    {
        Device* device = &devices[i];
        device->letter = (char) ('A' + i);
        lstrcpyW (device->path, L"\\\\?\\USB#VID_FFFF&PID_0001#A1#{6994ad04-93ef-11d0-a3cc-00a0c9223196}");
        if (! settingIs ("CANTORA_MIDI_PATHS", "shared"))
            device->path[26] = (WCHAR) device->letter; /* the "A" of "#A1#": where a USB path differs */
        listed[numListed++] = device;
    }
}

static Device* deviceAt (UINT number)
{
    return number < (UINT) numListed ? listed[number] : NULL;
}

static BOOL faulty (const Device* device)
{
    return device == &devices[0] && device->opens <= setting ("CANTORA_MIDI_FAULTY_OPENS", 1);
}

static void logLine (const Device* device, const char* format, ...)
{
    const char* path = getenv ("CANTORA_MIDI_LOG");

    if (path == NULL)
        return;

    FILE* log = fopen (path, "a");

    if (log == NULL)
        return;

    va_list args;
    va_start (args, format);
    fprintf (log, "%lu %c ", (unsigned long) GetTickCount(), device != NULL ? device->letter : '-');
    vfprintf (log, format, args);
    va_end (args);
    fputc ('\n', log);
    fclose (log);
}

static void capture (const Device* device, const MIDIHDR* header)
{
    const char* folder = getenv ("CANTORA_MIDI_CAPTURE");

    if (folder == NULL)
        return;

    char path[MAX_PATH];
    snprintf (path, sizeof path, "%s\\%c.bin", folder, device->letter);
    FILE* out = fopen (path, "ab");

    if (out != NULL)
    {
        fwrite (header->lpData, 1, header->dwBufferLength, out);
        fclose (out);
    }
}

/* Called with lock held. */
static void callBack (const Device* device, UINT message, DWORD_PTR p1)
{
    DriverCallback (device->openDesc.dwCallback, HIWORD (device->openFlags), (HDRVR) device->openDesc.hMidi,
                    message, device->openDesc.dwInstance, p1, 0);
}

static void complete (const Device* device, MIDIHDR* header)
{
    header->dwFlags &= ~MHDR_INQUEUE;
    header->dwFlags |= MHDR_DONE;
    callBack (device, MOM_DONE, (DWORD_PTR) header);
}

/* The device leaves the list, and those behind it move up one number. */
static void unplug (Device* device, const char* when)
{
    if (device->unplugged)
        return;

    device->unplugged = TRUE;
    int kept = 0;

    for (int i = 0; i < numListed; ++i)
        if (listed[i] != device)
            listed[kept++] = listed[i];

    numListed = kept;
    logLine (device, "UNPLUGGED %s; devices now listed: %d", when, numListed);
}

static void plugBackIn (Device* device)
{
    device->unplugged = FALSE;
    listed[numListed++] = device;
    logLine (device, "PLUGGED BACK at number %d", numListed - 1);
}

static BOOL unplugsAtTheEnd (void)
{
    return settingIs ("CANTORA_MIDI_UNPLUG_AT", "end");
}

/* The message at which device A is unplugged, or -1 where the setting names none. */
static long unplugMessage (void)
{
    const char* value = getenv ("CANTORA_MIDI_UNPLUG_AT");
    return value != NULL && *value >= '0' && *value <= '9' ? atol (value) : -1;
}

/* Gives headers back when they are due, as a device takes the bytes. */
static DWORD WINAPI completeHeaders (void* unused)
{
    (void) unused;
    EnterCriticalSection (&lock);

    for (;;)
    {
        const DWORD now = GetTickCount();
        DWORD wait = INFINITE;

        for (int i = 0; i < numPending;)
        {
            if (pending[i].stalled)
            {
                ++i;
            }
            else if ((LONG) (now - pending[i].dueAt) >= 0)
            {
                Device* device = pending[i].device;
                complete (device, pending[i].header);
                pending[i] = pending[--numPending];

                if (unplugsAtTheEnd() && faulty (device) &&
                    device->messagesThisOpen >= setting ("CANTORA_MIDI_MESSAGES", -1))
                    unplug (device, "after the last message");
            }
            else
            {
                const DWORD left = pending[i].dueAt - now;
                wait = left < wait ? left : wait;
                ++i;
            }
        }

        SleepConditionVariableCS (&work, &lock, wait);
    }

    LeaveCriticalSection (&lock);
    return 0;
}

static DWORD longData (Device* device, MIDIHDR* header)
{
    const long index = device->messagesThisOpen++;
    logLine (device, "MODM_LONGDATA %ld %lu", index, (unsigned long) header->dwBufferLength);

    if (faulty (device) && index == setting ("CANTORA_MIDI_HANG_AT", -1))
    {
        logLine (device, "HANGING in MODM_LONGDATA %ld", index);
        LeaveCriticalSection (&lock);
        Sleep (INFINITE);
    }

    const long unplugAt = unplugMessage();

    if (faulty (device) && unplugAt >= 0 && index >= unplugAt)
        unplug (device, "while taking data");

    if (device->unplugged)
        return MMSYSERR_NODRIVER;

    if ((header->dwFlags & MHDR_PREPARED) == 0)
        return MIDIERR_UNPREPARED;

    capture (device, header);
    header->dwFlags &= ~MHDR_DONE;
    header->dwFlags |= MHDR_INQUEUE;

    const long stopAt = setting ("CANTORA_MIDI_STOP_AT", -1);
    const BOOL stops = faulty (device) && stopAt >= 0 && index >= stopAt;

    if (stops)
        logLine (device, "STOPPED taking data at %ld", index);

    const char* pace = getenv ("CANTORA_MIDI_PACE");
    const DWORD delay =
        pace != NULL && strcmp (pace, "baud") == 0 ? (header->dwBufferLength * 10 * 1000 + 31249) / 31250 : 0;

    if (numPending < (int) (sizeof pending / sizeof pending[0]))
    {
        pending[numPending].device = device;
        pending[numPending].header = header;
        pending[numPending].dueAt = GetTickCount() + delay;
        pending[numPending].stalled = stops;
        ++numPending;
        WakeConditionVariable (&work);
    }

    return MMSYSERR_NOERROR;
}

/* winmm passes the address of the handle's instance data; the driver keeps the device there, and winmm
 * passes it back with every message about that handle, whatever number the device has by then. */
static DWORD openPort (UINT number, DWORD_PTR* instance, MIDIOPENDESC* desc, DWORD flags)
{
    Device* device = deviceAt (number);

    /* Device A leaves between the program's list and its open: the open reaches the device that now
     * has the number. */
    if (device == &devices[0] && settingIs ("CANTORA_MIDI_UNPLUG_AT", "open"))
    {
        unplug (device, "as an open of its number arrived");
        device = deviceAt (number);
    }

    if (device == NULL)
        return MMSYSERR_NODRIVER;

    ++device->opens;

    if (device->openHandles > 0 && setting ("CANTORA_MIDI_ALLOCATED", 0) == 1)
    {
        logLine (device, "MODM_OPEN refused: MMSYSERR_ALLOCATED");
        return MMSYSERR_ALLOCATED;
    }

    ++device->openHandles;
    device->openDesc = *desc;
    device->openFlags = flags;
    device->messagesThisOpen = 0;
    *instance = (DWORD_PTR) device;
    logLine (device, "MODM_OPEN flags=0x%lx at number %u", (unsigned long) flags, number);

    if (completer == NULL)
        completer = CreateThread (NULL, 0, completeHeaders, NULL, 0, NULL);

    callBack (device, MOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

/* A reset gives back every header of the device still queued, as done. */
static void reset (const Device* device)
{
    for (int i = 0; i < numPending;)
        if (pending[i].device == device)
        {
            complete (device, pending[i].header);
            pending[i] = pending[--numPending];
        }
        else
        {
            ++i;
        }
}

static DWORD deviceCaps (UINT number, MIDIOUTCAPSW* out, DWORD_PTR size)
{
    if (number == 0)
    {
        ++list;

        if (list == setting ("CANTORA_MIDI_GONE_AT_LIST", -1))
            unplug (&devices[0], "as a list began");
    }

    const Device* device = deviceAt (number);
    logLine (device, "MODM_GETDEVCAPS %u (list %ld)", number, list);

    if (device == NULL)
        return MMSYSERR_NODRIVER;

    if (device == &devices[0] && list == setting ("CANTORA_MIDI_CAPS_FAIL_AT", -1))
    {
        logLine (device, "FAILED its capabilities answer in list %ld", list);
        return MMSYSERR_NOMEM;
    }

    MIDIOUTCAPSW caps;
    memset (&caps, 0, sizeof caps);
    caps.wMid = 0xff;
    caps.wPid = 1;
    caps.vDriverVersion = 0x0100;

    const char* name = getenv ("CANTORA_MIDI_NAME");
    name = name != NULL && *name != 0 ? name : "Cantora 2";
    int length = 0;

    for (; length < MAXPNAMELEN && name[length] != 0; ++length)
        caps.szPname[length] = (WCHAR) (unsigned char) name[length];

    caps.wTechnology = MOD_MIDIPORT;

    /* A name that fills the field has no terminator: what follows it changes with every answer. */
    static unsigned answers = 0;

    if (length == MAXPNAMELEN)
        caps.wVoices = (WORD) ('a' + answers++ % 26);

    caps.wChannelMask = 0xffff;
    memcpy (out, &caps, size < sizeof caps ? size : sizeof caps);
    return MMSYSERR_NOERROR;
}

/* The device of an open handle, from the instance data winmm passes with a message about one; NULL for
 * a message about a device number. */
static Device* deviceOfHandle (DWORD_PTR user)
{
    for (int i = 0; i < numDevices; ++i)
        if (user == (DWORD_PTR) &devices[i])
            return &devices[i];

    return NULL;
}

/* The interface path's size in bytes, the terminating zero included, or the path into a buffer of at
 * least that size; asked of a device number or of an open handle. */
static DWORD interfacePath (UINT number, const Device* handleDevice, UINT message, DWORD_PTR p1, DWORD_PTR p2)
{
    const Device* device = handleDevice != NULL ? handleDevice : deviceAt (number);
    const BOOL sizeOnly = message == DRV_QUERYDEVICEINTERFACESIZE;
    const char* asked = handleDevice != NULL ? " on a handle" : "";

    if (device == NULL || device->unplugged)
    {
        logLine (device, "%s %u%s: gone",
                 sizeOnly ? "DRV_QUERYDEVICEINTERFACESIZE" : "DRV_QUERYDEVICEINTERFACE", number, asked);
        return MMSYSERR_NODRIVER;
    }

    if (settingIs ("CANTORA_MIDI_PATHS", "0"))
    {
        logLine (device, "%s %u%s: none",
                 sizeOnly ? "DRV_QUERYDEVICEINTERFACESIZE" : "DRV_QUERYDEVICEINTERFACE", number, asked);
        return MMSYSERR_NOTSUPPORTED;
    }

    const ULONG characters = (ULONG) (lstrlenW (device->path) * sizeof (WCHAR));
    const ULONG bytes =
        settingIs ("CANTORA_MIDI_PATHS", "odd") ? characters - 1 : characters + sizeof (WCHAR);

    if (sizeOnly)
    {
        const BOOL wide = settingIs ("CANTORA_MIDI_PATHS", "wide");
        logLine (device, "DRV_QUERYDEVICEINTERFACESIZE %u%s: %lu bytes, written as %d", number, asked,
                 (unsigned long) bytes, wide ? 8 : 4);

        if (wide)
        {
            const ULONG64 wideBytes = bytes;
            memcpy ((void*) p1, &wideBytes, sizeof wideBytes);
        }
        else
        {
            *(ULONG*) p1 = bytes;
        }

        return MMSYSERR_NOERROR;
    }

    /* The size of the program's buffer, as the C runtime's heap that both share knows it (-1 for memory not
     * of that heap): the log tells whether a terminator fits after what the driver writes. */
    logLine (device, "DRV_QUERYDEVICEINTERFACE %u%s: %lu bytes asked, buffer %ld bytes", number, asked,
             (unsigned long) p2, p1 != 0 ? (long) _msize ((void*) p1) : -1L);

    if (handleDevice == NULL && device == &devices[0] && list == setting ("CANTORA_MIDI_PATH_FAIL_AT", -1))
    {
        logLine (device, "FAILED its path answer in list %ld", list);
        return MMSYSERR_NOMEM;
    }

    if (p2 < bytes)
        return MMSYSERR_INVALPARAM;

    memcpy ((void*) p1, device->path, bytes);
    return MMSYSERR_NOERROR;
}

__declspec(dllexport) DWORD WINAPI
    modMessage (UINT number, UINT message, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2)
{
    static LONG initialised = 0;

    if (InterlockedExchange (&initialised, 1) == 0)
    {
        InitializeCriticalSection (&lock);
        InitializeConditionVariable (&work);
        setUpDevices();
    }

    EnterCriticalSection (&lock);
    DWORD result = MMSYSERR_NOTSUPPORTED;

    /* The device of an open handle, for the messages about one. */
    Device* device = (Device*) user;

    switch (message)
    {
        case DRVM_INIT:
            result = MMSYSERR_NOERROR;
            break;

        case MODM_GETNUMDEVS:
            result = (DWORD) numListed;
            break;

        case MODM_GETDEVCAPS:
            result = deviceCaps (number, (MIDIOUTCAPSW*) p1, p2);
            break;

        case DRV_QUERYDEVICEINTERFACESIZE:
        case DRV_QUERYDEVICEINTERFACE:
            result = interfacePath (number, deviceOfHandle (user), message, p1, p2);
            break;

        case MODM_OPEN:
            result = openPort (number, (DWORD_PTR*) user, (MIDIOPENDESC*) p1, (DWORD) p2);
            break;

        case MODM_CLOSE:
            logLine (device, "MODM_CLOSE");
            /* The handle stays open meanwhile: an open now is refused, if the run asks for that. */
            LeaveCriticalSection (&lock);
            Sleep ((DWORD) setting ("CANTORA_MIDI_CLOSE_DELAY_MS", 0));
            EnterCriticalSection (&lock);
            reset (device);
            --device->openHandles;
            callBack (device, MOM_CLOSE, 0);

            if (device->unplugged && setting ("CANTORA_MIDI_REPLUG", 0) == 1)
                plugBackIn (device);

            result = MMSYSERR_NOERROR;
            break;

        case MODM_RESET:
            logLine (device, "MODM_RESET");
            reset (device);
            result = MMSYSERR_NOERROR;
            break;

        case MODM_PREPARE:
            logLine (device, "MODM_PREPARE");
            ((MIDIHDR*) p1)->dwFlags |= MHDR_PREPARED;
            result = MMSYSERR_NOERROR;
            break;

        case MODM_UNPREPARE:
            logLine (device, "MODM_UNPREPARE");
            if ((((MIDIHDR*) p1)->dwFlags & MHDR_INQUEUE) != 0)
            {
                result = MIDIERR_STILLPLAYING;
                break;
            }
            ((MIDIHDR*) p1)->dwFlags &= ~MHDR_PREPARED;
            result = MMSYSERR_NOERROR;
            break;

        case MODM_LONGDATA:
            result = longData (device, (MIDIHDR*) p1);
            break;

        case MODM_DATA:
            result = device->unplugged ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
            break;

        default:
            logLine (NULL, "message %u for number %u", message, number);
            break;
    }

    LeaveCriticalSection (&lock);
    return result;
}
