// The run's events on their way from the worker to the window: recorded on the worker thread,
// taken and shown on the window thread, in order. Recording never waits for the window.
#pragma once

#include <windows.h>

#include <deque>
#include <mutex>
#include <string>

struct RunEvent {
    int code = 0;
    DWORD a1 = 0;
    DWORD a2 = 0;
    std::string text;
};

class CRunEventQueue {
public:
    // The window that is posted `message` when an event other than progress arrives (progress
    // is taken by the window's own timer); a null window stops the wake-ups (events are kept).
    void WakeUp(HWND hWnd, UINT message);
    // A progress event replaces one not yet taken: the window shows the newest figures, and
    // a file's last figures always stay, since other events follow them.
    void Push(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText);
    // The oldest event; false when there is none.
    bool Pop(RunEvent& event);
    // Applies, oldest first, the events that were waiting when it began. Those recorded
    // meanwhile wait for the next call: a worker faster than the window must not hold the
    // window in one pass. A call nested in `apply` (a modal loop) goes on in the same order.
    template <typename Apply> void TakeWaiting(Apply apply) {
        for (size_t waiting = Count(); waiting > 0; --waiting) {
            RunEvent event;
            if (!Pop(event))
                break;
            apply(event);
        }
    }

private:
    size_t Count();

    std::mutex m_lock;
    std::deque<RunEvent> m_events;
    HWND m_hWnd = nullptr;
    UINT m_message = 0;
};
