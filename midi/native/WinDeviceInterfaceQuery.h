#pragma once

/* The driver messages that ask a WinMM device number, through midiOutMessage, for the size in bytes of
   its Plug and Play interface path and then for the path itself. MinGW's headers do not declare them.
   Plain C: the scripted driver of the Windows tests answers the same messages. */
#ifndef DRV_QUERYDEVICEINTERFACE
#define DRV_QUERYDEVICEINTERFACE (DRV_RESERVED + 12)
#endif
#ifndef DRV_QUERYDEVICEINTERFACESIZE
#define DRV_QUERYDEVICEINTERFACESIZE (DRV_RESERVED + 13)
#endif
