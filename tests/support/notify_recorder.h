// Records the engine's events, and can act at the n-th event of a code (for example, request a
// cancel there). Events arrive on the worker thread.
#pragma once

#include "engine/update_notify.h"

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace testsupport {

struct RecordedEvent {
    int code;
    DWORD a1, a2;
    std::string text;
    bool hasText;
};

class NotifyRecorder : public IUpdateNotify {
public:
    void OnUpdateEvent(DWORD dwArg1, DWORD dwArg2, int nEvent, const char* pszText) override {
        std::function<void()> due;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            const int occurrence = CountLocked(nEvent);
            m_events.push_back(
                {nEvent, dwArg1, dwArg2, pszText ? pszText : "", pszText != nullptr});
            for (const auto& t : m_triggers)
                if (std::get<0>(t) == nEvent && std::get<1>(t) == occurrence)
                    due = std::get<2>(t);
        }
        if (due)
            due(); // outside the lock: the action may touch the engine
    }
    void ActAt(int code, int occurrence, std::function<void()> action) {
        std::lock_guard<std::mutex> hold(m_lock);
        m_triggers.emplace_back(code, occurrence, std::move(action));
    }
    std::vector<RecordedEvent> Events() const {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_events;
    }
    int Count(int code) const {
        std::lock_guard<std::mutex> hold(m_lock);
        return CountLocked(code);
    }
    // The codes in order, with each run of progress events written once as "4*".
    std::string Sequence() const {
        std::string out;
        int previous = 0;
        for (const RecordedEvent& e : Events()) {
            if (!(e.code == UPD_EVT_PROGRESS && previous == UPD_EVT_PROGRESS))
                out += (out.empty() ? "" : " ") + std::to_string(e.code) +
                       (e.code == UPD_EVT_PROGRESS ? "*" : "");
            previous = e.code;
        }
        return out;
    }

private:
    int CountLocked(int code) const {
        return static_cast<int>(
            std::count_if(m_events.begin(), m_events.end(),
                          [&](const RecordedEvent& e) { return e.code == code; }));
    }
    mutable std::mutex m_lock;
    std::vector<RecordedEvent> m_events;
    std::vector<std::tuple<int, int, std::function<void()>>> m_triggers; // code, occurrence, action
};

} // namespace testsupport
