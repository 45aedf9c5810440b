// Progress display on standard error for the --progress option.
#pragma once

#include <chrono>
#include <cstdint>

namespace quellpack::driver {

struct ProgressDisplay {
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastDraw;
    bool drawn = false;
};

// Starts timing a run.
void progressStart(ProgressDisplay& p);

// Redraws the progress line in place, at most about ten times a second.
void progressUpdate(ProgressDisplay& p, uint64_t done, uint64_t total);

// Replaces the progress line by the run's summary.
void progressSummary(ProgressDisplay& p, uint64_t bytesIn, uint64_t bytesOut);

}  // namespace quellpack::driver
