#pragma once

#include <functional>

// Token use, model, limits and conversation id of a session, read from the agent's own files.
// Defined with the transcript watchers, next to the limits records it carries.
struct UsageSnapshot;

// A usage watcher; it delivers snapshots on the main thread until stopped.
class UsageWatching {
public:
    using Update = std::function<void(const UsageSnapshot&)>;
    virtual ~UsageWatching() = default;
    virtual void stop() = 0;
};
