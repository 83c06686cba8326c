#include "ui/run_event_queue.h"

#include "engine/update_notify.h"

void CRunEventQueue::WakeUp(HWND hWnd, UINT message) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_hWnd = hWnd;
    m_message = message;
}

void CRunEventQueue::Push(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText) {
    RunEvent event;
    event.code = nEvent;
    event.a1 = dwArg1;
    event.a2 = dwArg2;
    event.text = pszText ? pszText : "";
    std::lock_guard<std::mutex> hold(m_lock);
    if (nEvent == UPD_EVT_PROGRESS && !m_events.empty() &&
        m_events.back().code == UPD_EVT_PROGRESS) {
        m_events.back() = std::move(event); // a wake-up for it is already on its way
        return;
    }
    m_events.push_back(std::move(event));
    // Progress waits for the window's display timer, so that a fast download costs no message
    // per block; every other event wakes the window at once. Posted, never sent: the worker
    // does not wait for the window.
    if (nEvent != UPD_EVT_PROGRESS && m_hWnd)
        PostMessageA(m_hWnd, m_message, 0, 0);
}

bool CRunEventQueue::Pop(RunEvent& event) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_events.empty())
        return false;
    event = std::move(m_events.front());
    m_events.pop_front();
    return true;
}

size_t CRunEventQueue::Count() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_events.size();
}
