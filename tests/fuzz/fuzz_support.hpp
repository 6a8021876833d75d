// What both libFuzzer targets share: each input is timed, the slowest one seen is printed at exit,
// and TOLVAT_FUZZ_SLOW_MS (unset in the test command) aborts on any input slower than that many
// milliseconds. Built with TOLVAT_FUZZ_STANDALONE, a plain driver replays every file named on the
// command line, or found in a directory named there, with no instrumentation.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz_support {

struct Slowest {
    double ms = 0.0;
    std::string input;
    ~Slowest() {
        if (ms <= 0.0) return;
        std::string shown;
        for (unsigned char ch : input.substr(0, 200)) {
            if (ch >= 0x20 && ch < 0x7f && ch != '\\') {
                shown += static_cast<char>(ch);
            } else {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02x", ch);
                shown += buf;
            }
        }
        std::fprintf(stderr, "slowest input: %.3f ms (%zu bytes): %s\n", ms, input.size(), shown.c_str());
    }
};
inline Slowest g_slowest;

inline double slow_limit_ms() {
    static const double limit = [] {
        const char* text = std::getenv("TOLVAT_FUZZ_SLOW_MS");
        return text != nullptr ? std::atof(text) : 0.0;
    }();
    return limit;
}

// Runs `body` on one input, keeping it if it is the slowest so far.
template <class Body>
void timed(std::string_view text, Body&& body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (ms > g_slowest.ms) {
        g_slowest.ms = ms;
        g_slowest.input.assign(text);
    }
    if (slow_limit_ms() > 0.0 && ms > slow_limit_ms()) {
        std::fprintf(stderr, "input took %.3f ms\n", ms);
        std::abort();
    }
}

}  // namespace fuzz_support

#ifdef TOLVAT_FUZZ_STANDALONE
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    std::size_t count = 0;
    auto run_file = [&](const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++count;
    };
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file()) run_file(entry.path());
            }
        } else {
            run_file(path);
        }
    }
    std::fprintf(stderr, "replayed %zu inputs\n", count);
    return 0;
}
#endif
