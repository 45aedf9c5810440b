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

// Erases the progress line, if one was drawn, so that a message can follow.
void progressClear(ProgressDisplay& p);

// Replaces the progress line by the run's summary: bytes in and out, the
// compressed size as a share of the original (in either direction), time.
void progressSummary(ProgressDisplay& p, uint64_t bytesIn, uint64_t bytesOut, bool compressing);

}  // namespace quellpack::driver
