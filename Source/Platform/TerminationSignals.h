#pragma once

#include <functional>

// Calls `handler` on the main thread when the process receives SIGTERM, SIGINT or SIGHUP,
// instead of dying on the spot. Call once, after the application object exists.
void WatchTerminationSignals(std::function<void()> handler);
