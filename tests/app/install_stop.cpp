// The test build of the updater only: ends the process, as a crash would, after the n-th step an
// installation (or its recovery) takes on the disk, n from UPDATER_TEST_STOP_AT_STEP.
#include "engine/install/disk_steps.h"

#include <stdlib.h>
#include <windows.h>

namespace {

class CStopAtStep : public IDiskObserver {
public:
    explicit CStopAtStep(int nStep) : m_nStopAt(nStep) {}
    void OnDiskStep(const DiskStep&) override {
        if (++m_nSteps == m_nStopAt)
            TerminateProcess(GetCurrentProcess(), 99);
    }

private:
    const int m_nStopAt;
    int m_nSteps = 0;
};

const bool g_installed = [] {
    char value[16] = {};
    if (GetEnvironmentVariableA("UPDATER_TEST_STOP_AT_STEP", value, sizeof(value)) > 0)
        SetDiskObserver(new CStopAtStep(atoi(value))); // lives as long as the process
    return true;
}();

} // namespace
