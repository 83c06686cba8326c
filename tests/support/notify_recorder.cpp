#include "tests/support/notify_recorder.h"

namespace testsupport {

void NotifyRecorder::OnUpdateEvent(DWORD dwArg1, DWORD dwArg2, int nEvent, const char* pszText) {
    std::vector<std::function<void()>> due;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        int occurrence = 0;
        for (const RecordedEvent& e : m_events)
            occurrence += e.code == nEvent ? 1 : 0;
        m_events.push_back({nEvent, dwArg1, dwArg2, pszText ? pszText : "", pszText != nullptr});
        for (const Trigger& t : m_triggers)
            if (t.code == nEvent && t.occurrence == occurrence)
                due.push_back(t.action);
    }
    for (auto& action : due)
        action();
}

void NotifyRecorder::ActAt(int code, int occurrence, std::function<void()> action) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_triggers.push_back({code, occurrence, std::move(action)});
}

std::vector<RecordedEvent> NotifyRecorder::Events() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_events;
}

std::vector<int> NotifyRecorder::Codes() const {
    std::vector<int> codes;
    for (const RecordedEvent& e : Events())
        codes.push_back(e.code);
    return codes;
}

std::string NotifyRecorder::Sequence() const {
    std::string out;
    int previous = 0;
    for (int code : Codes()) {
        if (code == 4 && previous == 4)
            continue;
        if (!out.empty())
            out += ' ';
        out += std::to_string(code);
        if (code == 4)
            out += '*';
        previous = code;
    }
    return out;
}

int NotifyRecorder::Count(int code) const {
    int n = 0;
    for (const RecordedEvent& e : Events())
        n += e.code == code ? 1 : 0;
    return n;
}

} // namespace testsupport
