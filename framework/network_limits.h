// How long the program waits for the network. The shipped limits are fixed; a test build may
// install a hook that shortens them (never lengthens or disables them), so that its tests need
// not wait the shipped times. The shipped program installs none.
#pragma once

#include <windows.h>

enum class NetworkLimit {
    Idle,       // no byte for this long fails a request (connecting, headers, the next bytes)
    WholeFetch, // a small document (the manifest, its signature) fetched in all
    RetryDelay, // the first wait before a passing fault is tried again; the others derive from it
};

// The limit in milliseconds: 30 s of silence, 60 s for a whole small document, 1 s before the
// first retry.
DWORD NetworkLimitMs(NetworkLimit which);

using NetworkLimitHook = DWORD (*)(NetworkLimit which, DWORD dwShippedMs);
void SetNetworkLimitHook(NetworkLimitHook pfnHook);
