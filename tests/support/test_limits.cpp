// Test programs and the test build of the updater only: the network limits (30 s, 60 s, the
// second before a retry) shortened through variables. A value can only shorten a limit.
#include "framework/network_limits.h"

#include <stdlib.h>

namespace {

DWORD FromEnvironment(NetworkLimit which, DWORD dwShippedMs) {
    const char* name = which == NetworkLimit::Idle         ? "UPDATER_TEST_ONLY_IDLE_LIMIT_MS"
                       : which == NetworkLimit::WholeFetch ? "UPDATER_TEST_ONLY_CHECK_LIMIT_MS"
                                                           : "UPDATER_TEST_ONLY_RETRY_DELAY_MS";
    char text[16] = {};
    const DWORD length = GetEnvironmentVariableA(name, text, sizeof(text));
    if (length == 0 || length >= sizeof(text))
        return dwShippedMs;
    return strtoul(text, nullptr, 10);
}

const bool g_installed = (SetNetworkLimitHook(&FromEnvironment), true);

} // namespace
