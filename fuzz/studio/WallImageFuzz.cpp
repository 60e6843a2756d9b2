// Any bytes as a picture a user picked for the LED wall. Whatever decodes must come out
// as a premultiplied RGBA image of 64..2048 pixels a side; nothing may crash, read out of
// bounds or allocate without limit. Inputs over 1 MiB are skipped (the loader's own
// limits are checked by the tests; here the decoders' handling of small hostile files is).
// Inputs of odd length are also loaded as a file (an in-memory one), which must give the same
// picture as the bytes do.
#include <sys/mman.h>
#include <unistd.h>
#include <QGuiApplication>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "studio/gpu/WallImageLoader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Some readers (SVG text) need a GUI application; no display is used.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "fuzz_wall_image";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantry::studio::gl;
    if (size > (std::size_t(1) << 20)) return 0;
    const auto wall = loadWallImage(std::span<const std::uint8_t>(data, size));
    // The file must take the same route as the bytes. A decoder that gives two different
    // pictures for the same bytes (a library fault on some damaged streams) cannot be compared.
    const auto again = size % 2 == 1 ? loadWallImage(std::span<const std::uint8_t>(data, size)) : nullptr;
    const bool repeatable = !again == !wall && (!wall || again->rgba == wall->rgba);
    if (size % 2 == 1 && repeatable) {
        const int fd = ::memfd_create("fuzz-wall", 0);
        if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
        const auto fromFile = loadWallImage(std::filesystem::path("/proc/self/fd/" + std::to_string(fd)));
        ::close(fd);
        if (!fromFile != !wall ||
            (wall && (fromFile->width != wall->width || fromFile->height != wall->height ||
                      fromFile->rgba != wall->rgba)))
            std::abort();
    }
    if (!wall) return 0;
    if (wall->width < kWallMinSide || wall->width > kWallMaxSide || wall->height < kWallMinSide ||
        wall->height > kWallMaxSide)
        std::abort();
    if (wall->rgba.size() != std::size_t(wall->width) * std::size_t(wall->height) * 4) std::abort();
    for (std::size_t i = 0; i < wall->rgba.size(); i += 4) {
        const auto a = wall->rgba[i + 3];
        if (wall->rgba[i] > a || wall->rgba[i + 1] > a || wall->rgba[i + 2] > a) std::abort();
    }
    return 0;
}
