#pragma once

#include <functional>

class QThreadPool;

// Hop to the application's main thread (queued, never inline).
void runOnMain(std::function<void()> fn);
// Runs on the main thread and waits; direct when already there. Only worker threads call it;
// the main thread never waits on them.
void runOnMainSync(const std::function<void()>& fn);
bool isMainThread();

// Pools for short blocking jobs. Eight threads each: the default equals the core count, and
// a few slow git runs would starve everything else.
namespace Pools {
QThreadPool* utility();
QThreadPool* userInitiated();
}  // namespace Pools
