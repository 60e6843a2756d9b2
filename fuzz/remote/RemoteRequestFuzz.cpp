// Any bytes as a message from a remote-control client. The decoder must never throw or crash;
// what it accepts must hold up to the promises the server relies on (an echoable id, an absolute
// path without NUL, finite gains), and every answer built from its output must be valid JSON.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/remote/RemoteProtocol.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

bool finiteOrAbsent(const std::optional<double>& v) {
    return !v || std::isfinite(*v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantry::remote;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto decoded = decodeRequest(text);
    if (const auto* error = std::get_if<DecodeError>(&decoded)) {
        check(!error->code.empty() && !error->message.empty());
        check(vantry::json::parse(encodeError(error->id, error->code, error->message)).has_value());
        return 0;
    }
    const Request& request = std::get<Request>(decoded);
    check(vantry::json::parse(encodeResult(request.id)).has_value());
    if (const auto* wall = std::get_if<SetWallImage>(&request.command)) {
        check(!wall->path.empty() && wall->path.front() == '/');
        check(wall->path.find('\0') == std::string::npos && wall->path.size() <= kMaxPathBytes);
    }
    if (const auto* gains = std::get_if<SetGains>(&request.command)) {
        check(gains->key || gains->neon || gains->led);
        check(finiteOrAbsent(gains->key) && finiteOrAbsent(gains->neon) && finiteOrAbsent(gains->led));
    }
    if (const auto* shot = std::get_if<RecallShot>(&request.command)) check(shot->index >= 0);
    if (const auto* angle = std::get_if<SetAngle>(&request.command)) check(angle->angle >= 0);
    return 0;
}
