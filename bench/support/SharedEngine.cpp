#include <cstdio>
#include <cstdlib>
#include <memory>

#include "bench/support/BenchSupport.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace vantry::bench {

VantryMetalEngine& sharedEngine() {
    static std::unique_ptr<VantryMetalEngine> engine = [] {
        auto made = VantryMetalEngine::create();
        if (!made) {
            std::fprintf(stderr, "no OpenGL 3.3 core context\n");
            std::exit(1);
        }
        std::fprintf(stderr, "GL renderer: %s\n", made->deviceName().c_str());
        return made;
    }();
    return *engine;
}

}  // namespace vantry::bench
