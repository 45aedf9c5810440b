#include "driver/progress.hpp"

#include <cstdio>

namespace quellpack::driver {

namespace {
double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}
}  // namespace

void progressStart(ProgressDisplay& p) {
    p.start = std::chrono::steady_clock::now();
    p.lastDraw = p.start;
}

void progressUpdate(ProgressDisplay& p, uint64_t done, uint64_t total) {
    const auto now = std::chrono::steady_clock::now();
    if (p.drawn && now - p.lastDraw < std::chrono::milliseconds(100)) return;
    if (!p.drawn && now - p.start < std::chrono::milliseconds(100)) return;
    p.lastDraw = now;
    p.drawn = true;
    const double elapsed = secondsSince(p.start);
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
    const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
    const int percent = total ? static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(total)) : 100;
    std::fprintf(stderr, "\r%3d%%  %7.2f MB/s  %4.0f s left ", percent, rate / 1e6, left);
    std::fflush(stderr);
}

void progressClear(ProgressDisplay& p) {
    if (!p.drawn) return;
    std::fputs("\r                                        \r", stderr);
    std::fflush(stderr);
    p.drawn = false;
}

void progressSummary(ProgressDisplay& p, uint64_t bytesIn, uint64_t bytesOut, bool compressing) {
    const uint64_t original = compressing ? bytesIn : bytesOut;
    const uint64_t packed = compressing ? bytesOut : bytesIn;
    const double ratio = original ? 100.0 * static_cast<double>(packed) / static_cast<double>(original) : 0;
    progressClear(p);
    std::fprintf(stderr, "%llu bytes in, %llu bytes out, %.2f%%, %.2f s\n", static_cast<unsigned long long>(bytesIn),
                 static_cast<unsigned long long>(bytesOut), ratio, secondsSince(p.start));
    std::fflush(stderr);
}

}  // namespace quellpack::driver
