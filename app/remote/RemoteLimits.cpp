#include "app/remote/RemoteLimits.h"

#include <algorithm>
#include <charconv>

#include "app/remote/RemoteProtocol.h"

namespace vantry::remote {

bool TokenBucket::take(double now) {
    if (last_ && now > *last_) tokens_ = std::min(burst_, tokens_ + (now - *last_) * perSecond_);
    if (!last_ || now > *last_) last_ = now;
    if (tokens_ < 1.0) return false;
    tokens_ -= 1.0;
    return true;
}

std::optional<HostPort> parseHostPort(std::string_view text, std::string* error) {
    const auto fail = [&](std::string why) -> std::optional<HostPort> {
        if (error) *error = std::move(why);
        return std::nullopt;
    };
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return fail("'" + std::string(text) + "' is not HOST:PORT");
    std::string_view host = text.substr(0, colon);
    const std::string_view portText = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return fail("an IPv6 address goes in brackets: [ADDRESS]:PORT");
    }
    unsigned port = 0;
    const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() || port < 1 ||
        port > 65535)
        return fail("the port must be a number from 1 to 65535, not '" + std::string(portText) + "'");
    HostPort out;
    out.host = host.empty() ? std::string(kDefaultHost) : std::string(host);
    out.port = static_cast<std::uint16_t>(port);
    return out;
}

}  // namespace vantry::remote
