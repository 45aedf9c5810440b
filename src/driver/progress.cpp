#include "driver/progress.hpp"

#include <unistd.h>

#include <cstdio>

#include "driver/platform.hpp"

namespace quellpack::driver {

namespace {

constexpr auto kLookEvery = std::chrono::milliseconds(100);
constexpr auto kLogLineEvery = std::chrono::seconds(5);

double secondsBetween(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

}  // namespace

void progressStart(ProgressDisplay& p) {
    p.start = Clock::now();
    p.onTerminal = isTerminal(STDERR_FILENO);
    progressPhase(p, "");
}

void progressPhase(ProgressDisplay& p, const char* phase) {
    p.phase = phase;
    p.lastLook = Clock::now();
    p.lastLine = p.lastLook;
    p.samples = 0;
}

void progressUpdate(ProgressDisplay& p, uint64_t done, uint64_t total) {
    const Clock::time_point now = Clock::now();
    if (now - p.lastLook < kLookEvery) return;
    p.lastLook = now;
    const int slot = p.samples % ProgressDisplay::kSamples;
    const int oldest = p.samples < ProgressDisplay::kSamples ? 0 : (p.samples + 1) % ProgressDisplay::kSamples;
    p.sampleTime[slot] = now;
    p.sampleDone[slot] = done;
    ++p.samples;
    if (!p.onTerminal && now - p.lastLine < kLogLineEvery) return;
    p.lastLine = now;

    const double span = secondsBetween(p.sampleTime[oldest], now);
    const double rate = span > 0 ? static_cast<double>(done - p.sampleDone[oldest]) / span : 0;
    const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
    const int percent = total ? static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(total)) : 100;
    std::fprintf(stderr, "%s%s %3d%%  %7.2f MB/s  %4.0f s left %s", p.onTerminal ? "\r" : "", p.phase, percent,
                 rate / 1e6, left, p.onTerminal ? "" : "\n");
    std::fflush(stderr);
    p.drawn = p.onTerminal;
}

void progressClear(ProgressDisplay& p) {
    if (!p.drawn) return;
    std::fputs("\r                                                  \r", stderr);
    std::fflush(stderr);
    p.drawn = false;
}

void progressSummary(ProgressDisplay& p, uint64_t bytesIn, uint64_t bytesOut, bool compressing) {
    const uint64_t original = compressing ? bytesIn : bytesOut;
    const uint64_t packed = compressing ? bytesOut : bytesIn;
    const double ratio = original ? 100.0 * static_cast<double>(packed) / static_cast<double>(original) : 0;
    progressClear(p);
    std::fprintf(stderr, "%llu bytes in, %llu bytes out, %.2f%%, %.2f s\n", static_cast<unsigned long long>(bytesIn),
                 static_cast<unsigned long long>(bytesOut), ratio, secondsBetween(p.start, Clock::now()));
    std::fflush(stderr);
}

}  // namespace quellpack::driver
