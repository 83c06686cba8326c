#include "framework/network_limits.h"

#include <atomic>

namespace {

std::atomic<NetworkLimitHook> g_pfnHook{nullptr};

} // namespace

DWORD NetworkLimitMs(NetworkLimit which) {
    const DWORD shipped = which == NetworkLimit::Idle         ? 30000
                          : which == NetworkLimit::WholeFetch ? 60000
                                                              : 1000;
    const NetworkLimitHook hook = g_pfnHook;
    const DWORD wanted = hook ? hook(which, shipped) : shipped;
    return wanted > 0 && wanted < shipped ? wanted : shipped;
}

void SetNetworkLimitHook(NetworkLimitHook pfnHook) {
    g_pfnHook = pfnHook;
}
