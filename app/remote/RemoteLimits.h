// The remote control's bounds that need arithmetic: the per-client request budget and the
// listening address. Pure code, no Qt.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantry::remote {

// A token bucket: `burst` requests at once, refilled at `perSecond`. Time is passed in (seconds on
// any steady clock), so the bucket is as testable as it is cheap.
class TokenBucket {
  public:
    TokenBucket(double perSecond, double burst) : perSecond_(perSecond), burst_(burst), tokens_(burst) {}

    // Takes one token at time `now`; false when none is left (the request is refused).
    bool take(double now);

  private:
    double perSecond_;
    double burst_;
    double tokens_;
    std::optional<double> last_;
};

struct HostPort {
    std::string host;  // an IPv4 address, or an IPv6 one without brackets
    std::uint16_t port = 0;
};

// "HOST:PORT", "[V6]:PORT" or ":PORT" (the default host); a port from 1 to 65535. The host is not
// resolved here; absent with `error` set when the text is malformed.
std::optional<HostPort> parseHostPort(std::string_view text, std::string* error);

}  // namespace vantry::remote
