#include "driver/command_line.hpp"

namespace quellpack::driver {

namespace {

bool separates(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> args;
    size_t at = 0;
    while (at < line.size()) {
        if (separates(line[at])) {
            ++at;
            continue;
        }
        size_t end;
        if (line[at] == '"') {
            ++at;
            end = line.find('"', at);
            if (end == std::string::npos) end = line.size();
            args.push_back(line.substr(at, end - at));
            at = end + 1;
        } else {
            end = at;
            while (end < line.size() && !separates(line[end])) ++end;
            args.push_back(line.substr(at, end - at));
            at = end;
        }
    }
    return args;
}

}  // namespace quellpack::driver
