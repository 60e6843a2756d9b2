// Runs a libFuzzer entry point without libFuzzer: each argument that names a file
// is replayed once; "-max_total_time=N" (default 5) feeds random inputs for N seconds.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Optional, as with libFuzzer: one-time set-up before the first input.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    double seconds = 5;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-max_total_time=", 16) == 0)
            seconds = std::atof(argv[i] + 16);
        else if (argv[i][0] != '-')
            files.emplace_back(argv[i]);
    }
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    if (!files.empty()) return 0;
    std::mt19937_64 rng(12345);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::size_t runs = 0;
    while (std::chrono::steady_clock::now() < end) {
        std::vector<std::uint8_t> input(rng() % 2048);
        for (auto& b : input) b = static_cast<std::uint8_t>(rng());
        LLVMFuzzerTestOneInput(input.data(), input.size());
        ++runs;
    }
    std::printf("standalone fuzz driver: %zu random inputs, no crash\n", runs);
    return 0;
}
