// Linked only into the test build of the updater: ends the process at the installation step
// named by UPDATER_TEST_STOP_AT_STEP, as a crash or a power cut would.
#include "engine/install/install_journal.h"

#include <stdlib.h>
#include <windows.h>

namespace {

int g_stopAtStep = 0;

const bool g_installed = [] {
    char value[16] = {};
    if (GetEnvironmentVariableA("UPDATER_TEST_STOP_AT_STEP", value, sizeof(value)) > 0) {
        g_stopAtStep = atoi(value);
        SetInstallStepHook([](int nStep) {
            if (nStep == g_stopAtStep)
                TerminateProcess(GetCurrentProcess(), 99);
        });
    }
    return true;
}();

} // namespace
