#include "driver/memory_limit.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace quellpack::driver {

namespace {

constexpr uint64_t kNone = std::numeric_limits<uint64_t>::max();

// The start of a small system file ("" when it cannot be read). Plain
// reads: the streams library would cost the program more memory than this.
std::string startOf(const std::string& path) {
    char buf[4096];
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
}

// A number alone in a file such as memory.max; kNone for "max" or nothing.
uint64_t numberIn(const std::string& path) {
    std::string word = startOf(path);
    word = word.substr(0, word.find_first_of(" \n"));
    uint64_t v = 0;
    return parseSize(word, v) && v > 0 ? v : kNone;
}

uint64_t memTotal() {
    const std::string info = startOf("/proc/meminfo");
    const size_t at = info.find("MemTotal:");
    if (at == std::string::npos) return kNone;
    const uint64_t kib = std::strtoull(info.c_str() + at + 9, nullptr, 10);
    return kib ? kib * 1024 : kNone;
}

// The limit of the control group the process is in (version 2, else 1).
uint64_t cgroupLimit() {
    const std::string self = startOf("/proc/self/cgroup");
    uint64_t limit = kNone;
    for (size_t from = 0; from < self.size();) {
        size_t end = self.find('\n', from);
        if (end == std::string::npos) end = self.size();
        const std::string line = self.substr(from, end - from);
        from = end + 1;
        const size_t colon = line.find(':', line.find(':') + 1);
        if (colon == std::string::npos) continue;
        const std::string path = line.substr(colon + 1);
        const std::string controllers = line.substr(line.find(':') + 1, colon - line.find(':') - 1);
        if (controllers.empty()) {
            limit = std::min({limit, numberIn("/sys/fs/cgroup" + path + "/memory.max"),
                              numberIn("/sys/fs/cgroup/memory.max")});
        } else if (controllers.find("memory") != std::string::npos) {
            limit = std::min({limit, numberIn("/sys/fs/cgroup/memory" + path + "/memory.limit_in_bytes"),
                              numberIn("/sys/fs/cgroup/memory/memory.limit_in_bytes")});
        }
    }
    return limit;
}

}  // namespace

uint64_t defaultMemoryLimit() {
    const uint64_t machine = std::min(memTotal(), cgroupLimit());
    return machine == kNone ? 0 : machine / 5 * 4;
}

bool parseSize(const std::string& text, uint64_t& bytes) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    uint64_t v = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (v > (kNone - digit) / 10) return false;
        v = v * 10 + digit;
    }
    int shift = 0;
    if (i + 1 == text.size()) {
        switch (text[i]) {
            case 'K': case 'k': shift = 10; break;
            case 'M': case 'm': shift = 20; break;
            case 'G': case 'g': shift = 30; break;
            default: return false;
        }
    } else if (i != text.size()) {
        return false;
    }
    if (shift && v > (kNone >> shift)) return false;
    bytes = v << shift;
    return true;
}

}  // namespace quellpack::driver
