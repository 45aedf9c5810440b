// Test-only program: quellpack whose verification step always sees one
// changed byte, so that tests can reach the "verification failed" path
// through the real command line. Never installed.
#include <cstdint>
#include <vector>

#include "driver/cli.hpp"
#include "driver/format/hooks.hpp"

int main(int argc, char** argv) {
    quellpack::format::Hooks hooks;
    hooks.verifyTamper = [](std::vector<uint8_t>& decoded) {
        if (decoded.empty()) {
            decoded.push_back(0);
        } else {
            decoded[decoded.size() / 2] ^= 0x01;
        }
    };
    return quellpack::driver::runCli(argc, argv, hooks);
}
