// The engine's one callback: every step of a run is reported through OnUpdateEvent.
#pragma once

#include <windows.h>

enum UpdateEvent {
    UPD_EVT_CONNECTING = 1, // a file starts, before its URL is opened
    UPD_EVT_FILE_SIZE = 3,  // first block accepted; a2 = announced length (0 if none)
    UPD_EVT_PROGRESS = 4,   // a block written; a1 = this file's bytes, a2 = the run's bytes
    UPD_EVT_FILE_DONE = 5,  // a file received in full and closed
    UPD_EVT_DOWNLOADED = 6, // every file downloaded
    UPD_EVT_CLOSE = 7,      // stopped on the user's cancel request
    UPD_EVT_INSTALLING = 8, // moves begin
    UPD_EVT_DONE = 9,       // every file moved into place
    UPD_EVT_FAILED = 32,    // a file failed; text = description
};

class IUpdateNotify {
public:
    // Called on the worker thread, which waits until it returns: a receiver only records the
    // event and passes it on to its own thread, never waiting for that thread.
    virtual void OnUpdateEvent(DWORD dwArg1, DWORD dwArg2, int nEvent, const char* pszText) = 0;
};
