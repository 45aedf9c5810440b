// Progress display on standard error for the --progress option.
#pragma once

#include <chrono>
#include <cstdint>

namespace quellpack::driver {

using Clock = std::chrono::steady_clock;

// Looked at about ten times a second: on a terminal the line is redrawn in
// place each time; elsewhere (a log file) one plain line is written every
// few seconds, so that a log does not fill with redraws.
struct ProgressDisplay {
    static constexpr int kSamples = 30;  // the last three seconds
    Clock::time_point start;
    Clock::time_point lastLook;
    Clock::time_point lastLine;
    const char* phase = "";
    bool onTerminal = false;
    bool drawn = false;  // a line is on the terminal that a message must erase
    // Recent (time, done) pairs: the time left comes from the recent rate,
    // which falls as the model grows, not from the average since the start.
    Clock::time_point sampleTime[kSamples];
    uint64_t sampleDone[kSamples] = {};
    int samples = 0;
};

// Starts timing a run; redraws in place only when standard error is a terminal.
void progressStart(ProgressDisplay& p);

// Begins a phase ("compressing", "restoring", "verifying") with its own rate.
void progressPhase(ProgressDisplay& p, const char* phase);

// Reports the phase's progress; shows it when it is time to.
void progressUpdate(ProgressDisplay& p, uint64_t done, uint64_t total);

// Erases the progress line, if one was drawn, so that a message can follow.
void progressClear(ProgressDisplay& p);

// Replaces the progress line by the run's summary: bytes in and out, the
// compressed size as a share of the original (in either direction), time.
void progressSummary(ProgressDisplay& p, uint64_t bytesIn, uint64_t bytesOut, bool compressing);

}  // namespace quellpack::driver
