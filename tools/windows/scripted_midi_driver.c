/* A MIDI output driver for Wine whose behaviour each run chooses: one output port, "Cantora 2", that
 * captures what it receives and plays the faults a real driver can cause. Wine's winmm loads it when
 * the prefix's HKCU\Software\Wine\Drivers "Audio" names it (winecantoramidi.drv: "cantoramidi"); the
 * program's multimedia MIDI calls then reach modMessage below.
 *
 * Chosen through the environment (message numbers count from 0 in each open; a fault applies to the
 * first CANTORA_MIDI_FAULTY_OPENS opens, 1 unless set):
 *   CANTORA_MIDI_CAPTURE  file that receives the bytes of every long message, in order
 *   CANTORA_MIDI_LOG      file that logs every message the driver receives, one line each
 *   CANTORA_MIDI_PACE     "baud": a header is done after the message's time at 31,250 baud
 *                         (otherwise at once)
 *   CANTORA_MIDI_STOP_AT  N: from message N on, headers are never done (a device that stops)
 *   CANTORA_MIDI_UNPLUG_AT N: from message N on, MMSYSERR_NODRIVER, and the port leaves the list;
 *                         "end": the same as soon as the header of message CANTORA_MIDI_MESSAGES - 1
 *                         (the last) is done
 *   CANTORA_MIDI_HANG_AT  N: the call that hands message N over never returns
 *   CANTORA_MIDI_CLOSE_DELAY_MS  a close takes this long (a driver slow to give headers back)
 *   CANTORA_MIDI_ALLOCATED  "1": an open while a handle is still open answers MMSYSERR_ALLOCATED
 */

#include <windows.h>
#include <mmddk.h>
#include <mmsystem.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

typedef struct
{
    MIDIHDR* header;
    DWORD dueAt;  /* GetTickCount() */
    BOOL stalled; /* never due: only a reset gives it back */
} Pending;

static CRITICAL_SECTION lock;   /* guards everything below */
static CONDITION_VARIABLE work; /* a header queued, or the port closing */
static Pending pending[64];
static int numPending = 0;
static MIDIOPENDESC openDesc;
static DWORD openFlags = 0;
static int openHandles = 0, opens = 0;
static long messagesThisOpen = 0;
static BOOL unplugged = FALSE;
static HANDLE completer = NULL;

static long setting (const char* name, long otherwise)
{
    const char* value = getenv (name);
    return value != NULL && *value != 0 ? atol (value) : otherwise;
}

static BOOL faulty (void)
{
    return opens <= setting ("CANTORA_MIDI_FAULTY_OPENS", 1);
}

static void logLine (const char* format, ...)
{
    const char* path = getenv ("CANTORA_MIDI_LOG");

    if (path == NULL)
        return;

    FILE* log = fopen (path, "a");

    if (log == NULL)
        return;

    va_list args;
    va_start (args, format);
    fprintf (log, "%lu ", (unsigned long) GetTickCount());
    vfprintf (log, format, args);
    va_end (args);
    fputc ('\n', log);
    fclose (log);
}

static void capture (const MIDIHDR* header)
{
    const char* path = getenv ("CANTORA_MIDI_CAPTURE");
    FILE* out = path != NULL ? fopen (path, "ab") : NULL;

    if (out != NULL)
    {
        fwrite (header->lpData, 1, header->dwBufferLength, out);
        fclose (out);
    }
}

/* Called with lock held. */
static void callBack (UINT message, DWORD_PTR p1)
{
    DriverCallback (openDesc.dwCallback, HIWORD (openFlags), (HDRVR) openDesc.hMidi, message,
                    openDesc.dwInstance, p1, 0);
}

static void complete (MIDIHDR* header)
{
    header->dwFlags &= ~MHDR_INQUEUE;
    header->dwFlags |= MHDR_DONE;
    callBack (MOM_DONE, (DWORD_PTR) header);
}

static BOOL unplugsAtTheEnd (void)
{
    const char* value = getenv ("CANTORA_MIDI_UNPLUG_AT");
    return value != NULL && strcmp (value, "end") == 0;
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
                complete (pending[i].header);
                pending[i] = pending[--numPending];

                if (unplugsAtTheEnd() && faulty() &&
                    messagesThisOpen >= setting ("CANTORA_MIDI_MESSAGES", -1))
                {
                    unplugged = TRUE;
                    logLine ("UNPLUGGED after the last message");
                }
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

static DWORD longData (MIDIHDR* header)
{
    const long index = messagesThisOpen++;
    logLine ("MODM_LONGDATA %ld %lu", index, (unsigned long) header->dwBufferLength);

    if (faulty() && index == setting ("CANTORA_MIDI_HANG_AT", -1))
    {
        logLine ("HANGING in MODM_LONGDATA %ld", index);
        LeaveCriticalSection (&lock);
        Sleep (INFINITE);
    }

    const long unplugAt = unplugsAtTheEnd() ? -1 : setting ("CANTORA_MIDI_UNPLUG_AT", -1);

    if (unplugged || (faulty() && unplugAt >= 0 && index >= unplugAt))
    {
        unplugged = TRUE;
        return MMSYSERR_NODRIVER;
    }

    if ((header->dwFlags & MHDR_PREPARED) == 0)
        return MIDIERR_UNPREPARED;

    capture (header);
    header->dwFlags &= ~MHDR_DONE;
    header->dwFlags |= MHDR_INQUEUE;

    const long stopAt = setting ("CANTORA_MIDI_STOP_AT", -1);
    const BOOL stops = faulty() && stopAt >= 0 && index >= stopAt;

    if (stops)
        logLine ("STOPPED taking data at %ld", index);

    const char* pace = getenv ("CANTORA_MIDI_PACE");
    const DWORD delay =
        pace != NULL && strcmp (pace, "baud") == 0 ? (header->dwBufferLength * 10 * 1000 + 31249) / 31250 : 0;

    if (numPending < (int) (sizeof pending / sizeof pending[0]))
    {
        pending[numPending].header = header;
        pending[numPending].dueAt = GetTickCount() + delay;
        pending[numPending].stalled = stops;
        ++numPending;
        WakeConditionVariable (&work);
    }

    return MMSYSERR_NOERROR;
}

static DWORD openPort (MIDIOPENDESC* desc, DWORD flags)
{
    ++opens;

    if (openHandles > 0 && setting ("CANTORA_MIDI_ALLOCATED", 0) == 1)
    {
        logLine ("MODM_OPEN refused: MMSYSERR_ALLOCATED");
        return MMSYSERR_ALLOCATED;
    }

    if (unplugged)
        return MMSYSERR_NODRIVER;

    ++openHandles;
    openDesc = *desc;
    openFlags = flags;
    messagesThisOpen = 0;
    logLine ("MODM_OPEN flags=0x%lx", (unsigned long) flags);

    if (completer == NULL)
        completer = CreateThread (NULL, 0, completeHeaders, NULL, 0, NULL);

    callBack (MOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

/* A reset gives back every header still queued, as done. */
static void reset (void)
{
    for (int i = 0; i < numPending; ++i)
        complete (pending[i].header);

    numPending = 0;
}

__declspec(dllexport) DWORD WINAPI
    modMessage (UINT device, UINT message, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2)
{
    (void) device;
    (void) user;
    static LONG initialised = 0;

    if (InterlockedExchange (&initialised, 1) == 0)
    {
        InitializeCriticalSection (&lock);
        InitializeConditionVariable (&work);
    }

    EnterCriticalSection (&lock);
    DWORD result = MMSYSERR_NOTSUPPORTED;

    switch (message)
    {
        case DRVM_INIT:
            result = MMSYSERR_NOERROR;
            break;

        case MODM_GETNUMDEVS:
            result = unplugged ? 0 : 1;
            break;

        case MODM_GETDEVCAPS:
            if (unplugged)
            {
                result = MMSYSERR_NODRIVER;
                break;
            }
            {
                MIDIOUTCAPSW caps;
                memset (&caps, 0, sizeof caps);
                caps.wMid = 0xff;
                caps.wPid = 1;
                caps.vDriverVersion = 0x0100;
                lstrcpyW (caps.szPname, L"Cantora 2");
                caps.wTechnology = MOD_MIDIPORT;
                caps.wChannelMask = 0xffff;
                memcpy ((void*) p1, &caps, p2 < sizeof caps ? p2 : sizeof caps);
                result = MMSYSERR_NOERROR;
            }
            break;

        case MODM_OPEN:
            result = openPort ((MIDIOPENDESC*) p1, (DWORD) p2);
            break;

        case MODM_CLOSE:
            logLine ("MODM_CLOSE");
            /* The handle stays open meanwhile: an open now is refused, if the run asks for that. */
            LeaveCriticalSection (&lock);
            Sleep ((DWORD) setting ("CANTORA_MIDI_CLOSE_DELAY_MS", 0));
            EnterCriticalSection (&lock);
            reset();
            --openHandles;
            callBack (MOM_CLOSE, 0);
            result = MMSYSERR_NOERROR;
            break;

        case MODM_RESET:
            logLine ("MODM_RESET");
            reset();
            result = MMSYSERR_NOERROR;
            break;

        case MODM_PREPARE:
            logLine ("MODM_PREPARE");
            ((MIDIHDR*) p1)->dwFlags |= MHDR_PREPARED;
            result = MMSYSERR_NOERROR;
            break;

        case MODM_UNPREPARE:
            logLine ("MODM_UNPREPARE");
            if ((((MIDIHDR*) p1)->dwFlags & MHDR_INQUEUE) != 0)
            {
                result = MIDIERR_STILLPLAYING;
                break;
            }
            ((MIDIHDR*) p1)->dwFlags &= ~MHDR_PREPARED;
            result = MMSYSERR_NOERROR;
            break;

        case MODM_LONGDATA:
            result = longData ((MIDIHDR*) p1);
            break;

        case MODM_DATA:
            result = unplugged ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
            break;

        default:
            logLine ("message %u", message);
            break;
    }

    LeaveCriticalSection (&lock);
    return result;
}
