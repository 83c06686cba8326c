// Records the engine's events, and can act at a chosen one (for example request a cancel).
#pragma once

#include "engine/update_notify.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

struct RecordedEvent {
    int code;
    DWORD a1;
    DWORD a2;
    std::string text;
    bool hasText;
};

class NotifyRecorder : public IUpdateNotify {
public:
    void OnUpdateEvent(DWORD dwArg1, DWORD dwArg2, int nEvent, const char* pszText) override;
    void ActAt(int code, int occurrence, std::function<void()> action);

    std::vector<RecordedEvent> Events() const;
    std::vector<int> Codes() const;
    // Codes with runs of progress events squeezed to one "4*" entry, for readable sequences.
    std::string Sequence() const;
    int Count(int code) const;

private:
    struct Trigger {
        int code;
        int occurrence;
        std::function<void()> action;
    };
    mutable std::mutex m_lock;
    std::vector<RecordedEvent> m_events;
    std::vector<Trigger> m_triggers;
};

} // namespace testsupport
