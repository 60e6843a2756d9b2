// Stream addresses (checking, adding the key, the shown form) and the search for
// v4l2loopback devices.
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/media/MediaRuntime.h"
#include "platform/stream/LiveStream.h"

namespace vantry::platform {
namespace fs = std::filesystem;

const char* const kVirtualCameraHint =
    "No virtual camera device: install v4l2loopback-dkms, then run: "
    "sudo modprobe v4l2loopback video_nr=10 card_label=\"Vantry Pro\" exclusive_caps=1";

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// "/dev/videoN" -> N, or -1.
int videoNumber(const std::string& name, const std::string& prefix) {
    if (name.rfind(prefix, 0) != 0) return -1;
    const std::string digits = name.substr(prefix.size());
    if (!allDigits(digits) || digits.size() > 6) return -1;
    return std::stoi(digits);
}

// The parts of a network address; throws LiveStreamError for one that cannot work.
struct ParsedUrl {
    std::string scheme;    // lower case
    std::string hostPort;  // without user information
    std::string path;      // from the first '/' after the host, without the query
    std::string query;     // from '?', empty when none
    bool hasPort = false;
};

ParsedUrl parseNetworkUrl(const std::string& url, std::size_t schemeEnd) {
    ParsedUrl p;
    p.scheme = lower(url.substr(0, schemeEnd));
    const std::string rest = url.substr(schemeEnd + 3);
    const std::size_t authorityEnd = rest.find_first_of("/?");
    std::string authority = rest.substr(0, authorityEnd);
    std::string tail = authorityEnd == std::string::npos ? "" : rest.substr(authorityEnd);
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    const std::size_t q = tail.find('?');
    p.path = tail.substr(0, q);
    p.query = q == std::string::npos ? "" : tail.substr(q);

    std::string host = authority, port;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos)
            throw LiveStreamAddressError("'" + url + "' has an unclosed IPv6 address");
        host = authority.substr(0, close + 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':')
                throw LiveStreamAddressError("'" + url + "' is not a valid address");
            port = authority.substr(close + 2);
            p.hasPort = true;
        }
    } else if (const std::size_t colon = authority.find(':'); colon != std::string::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
        p.hasPort = true;
    }
    if (host.empty() || host == "[]") throw LiveStreamAddressError("'" + url + "' has no server name");
    if (p.hasPort && (!allDigits(port) || port.size() > 5 || std::stoi(port) < 1 || std::stoi(port) > 65535))
        throw LiveStreamAddressError("'" + url + "' has an invalid port");
    p.hostPort = host + (p.hasPort ? ":" + port : "");
    return p;
}

// The driver name a device node reports, or empty when it cannot be opened.
std::string queryDriver(const std::string& node) {
    const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    v4l2_capability cap{};
    std::string driver;
    if (::ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0)
        driver.assign(reinterpret_cast<const char*>(cap.driver),
                      strnlen(reinterpret_cast<const char*>(cap.driver), sizeof cap.driver));
    ::close(fd);
    return driver;
}

// "%41" -> "A"; text that is not a valid escape stays as it is.
std::string percentDecoded(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit((unsigned char)s[i + 1]) &&
            std::isxdigit((unsigned char)s[i + 2])) {
            out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The path parts of "/a/b/" -> {"a", "b"}.
std::vector<std::string> pathParts(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    while (from <= path.size()) {
        const std::size_t slash = std::min(path.find('/', from), path.size());
        if (slash > from) parts.push_back(path.substr(from, slash - from));
        from = slash + 1;
    }
    return parts;
}

// An RTMP URL without a separate key carries it as its last path part, after the application
// ("rtmp://host/live/KEY"); a single path part is the application alone.
bool keyInPath(const std::string& scheme, const std::string& path, const std::string& streamKey) {
    return streamKey.empty() && scheme != "srt" && pathParts(path).size() >= 2;
}

// The value of option `name` (any case) in a query ("?a=1&b=2"), percent-decoded; none when
// the query lacks it.
std::optional<std::string> queryValue(const std::string& query, const std::string& name) {
    const std::string options = query.empty() ? "" : query.substr(1);
    for (std::size_t from = 0; from < options.size();) {
        const std::size_t amp = std::min(options.find('&', from), options.size());
        const std::string pair = options.substr(from, amp - from);
        from = amp + 1;
        const std::size_t eq = pair.find('=');
        if (eq != std::string::npos && lower(pair.substr(0, eq)) == name)
            return percentDecoded(pair.substr(eq + 1));
    }
    return std::nullopt;
}

// The targetOf() of liveStreamTarget(), whose messages may still show secrets.
LiveStreamTarget targetOf(const std::string& url, const std::string& streamKey);

}  // namespace

std::vector<std::string> liveStreamSecrets(const std::string& url, const std::string& streamKey) {
    std::vector<std::string> found;
    const auto add = [&found](const std::string& secret) {
        for (const std::string& s : {secret, percentDecoded(secret)})
            if (!s.empty() && std::find(found.begin(), found.end(), s) == found.end()) found.push_back(s);
    };
    add(streamKey);
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) return found;
    const std::string scheme = lower(url.substr(0, schemeEnd));
    const std::string rest = url.substr(schemeEnd + 3);
    const std::size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
    const std::string authority = rest.substr(0, authorityEnd);
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
        const std::string user = authority.substr(0, at);
        const std::size_t colon = user.find(':');
        add(user.substr(0, colon));
        if (colon != std::string::npos) add(user.substr(colon + 1));
    }
    const std::string tail = rest.substr(authorityEnd);
    const std::size_t q = std::min(tail.find('?'), tail.size());
    const std::string path = tail.substr(0, q);
    if (keyInPath(scheme, path, streamKey)) add(pathParts(path).back());
    // Query values: every one of an RTMP address (tokens); an SRT address's are FFmpeg's
    // options, of which the passphrase and the stream id are secret.
    std::string query = q < tail.size() ? tail.substr(q + 1) : "";
    query = query.substr(0, std::min(query.find('#'), query.size()));
    std::size_t from = 0;
    while (from < query.size()) {
        const std::size_t amp = std::min(query.find('&', from), query.size());
        const std::string pair = query.substr(from, amp - from);
        from = amp + 1;
        const std::size_t eq = pair.find('=');
        if (eq == std::string::npos) continue;
        const std::string name = lower(pair.substr(0, eq));
        if (scheme != "srt" || name == "passphrase" || name == "streamid") add(pair.substr(eq + 1));
    }
    return found;
}

std::string redactStreamSecrets(std::string text, std::vector<std::string> secrets) {
    return media::blankSecrets(std::move(text), std::move(secrets));
}

std::string redactStreamKey(std::string text, const std::string& streamKey) {
    if (streamKey.empty()) return text;
    for (std::size_t at = text.find(streamKey); at != std::string::npos; at = text.find(streamKey, at + 4))
        text.replace(at, streamKey.size(), "****");
    return text;
}

std::vector<std::pair<std::size_t, std::size_t>> streamAddressSecretParts(const std::string& url,
                                                                          const std::string& streamKey) {
    std::vector<std::pair<std::size_t, std::size_t>> parts;
    const auto add = [&parts](std::size_t from, std::size_t to) {
        if (to > from) parts.emplace_back(from, to - from);
    };
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) return parts;
    const std::string scheme = lower(url.substr(0, schemeEnd));
    const std::size_t begin = schemeEnd + 3;
    const std::size_t authorityEnd = std::min(url.find_first_of("/?#", begin), url.size());
    if (const std::size_t at = url.rfind('@', authorityEnd - 1); at != std::string::npos && at >= begin) {
        const std::size_t colon = std::min(url.find(':', begin), at);
        add(begin, colon);
        if (colon < at) add(colon + 1, at);
    }
    const std::size_t q = std::min(url.find_first_of("?#", authorityEnd), url.size());
    const std::string path = url.substr(authorityEnd, q - authorityEnd);
    if (keyInPath(scheme, path, streamKey)) {
        std::size_t end = q;
        while (end > authorityEnd && url[end - 1] == '/') --end;
        const std::size_t slash = url.rfind('/', end - 1);
        add(slash + 1, end);
    }
    if (q >= url.size() || url[q] != '?') return parts;
    const std::size_t queryEnd = std::min(url.find('#', q), url.size());
    for (std::size_t from = q + 1; from < queryEnd;) {
        const std::size_t amp = std::min(url.find('&', from), queryEnd);
        const std::size_t eq = url.find('=', from);
        if (eq < amp) {
            const std::string name = lower(url.substr(from, eq - from));
            if (scheme != "srt" || name == "passphrase" || name == "streamid") add(eq + 1, amp);
        }
        from = amp + 1;
    }
    return parts;
}

std::string maskStreamAddress(const std::string& url, const std::string& streamKey, const std::string& mask,
                              bool eachCharacter) {
    std::string out;
    std::size_t from = 0;
    for (const auto& [at, length] : streamAddressSecretParts(url, streamKey)) {
        out += url.substr(from, at - from);
        if (!eachCharacter) {
            out += mask;
        } else {
            // Each character of the secret, counted as UTF-8 code points.
            for (std::size_t i = at; i < at + length; ++i)
                if ((static_cast<unsigned char>(url[i]) & 0xc0) != 0x80) out += mask;
        }
        from = at + length;
    }
    return out + url.substr(from);
}

namespace {

LiveStreamTarget targetOf(const std::string& url, const std::string& streamKey) {
    if (url.empty())
        throw LiveStreamAddressError("No stream address: enter an rtmp://, rtmps:// or srt:// address");
    if (std::any_of(url.begin(), url.end(), [](unsigned char c) { return c <= ' ' || c == 0x7f; }))
        throw LiveStreamAddressError("The stream address contains spaces or control characters");
    if (std::any_of(streamKey.begin(), streamKey.end(),
                    [](unsigned char c) { return c <= ' ' || c == 0x7f; }))
        throw LiveStreamAddressError("The stream key contains spaces or control characters");

    LiveStreamTarget t;
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) {
        if (videoNumber(url, "/dev/video") < 0)
            throw LiveStreamAddressError("'" + url + "' is not an rtmp://, rtmps:// or srt:// address");
        const auto devices = virtualCameraDevices();
        if (std::find(devices.begin(), devices.end(), url) == devices.end())
            throw LiveStreamError(url + " is not a v4l2loopback device");
        t.kind = "v4l2";
        t.address = t.shownAddress = url;
        return t;
    }
    const std::string scheme = lower(url.substr(0, schemeEnd));
    if (scheme != "rtmp" && scheme != "rtmps" && scheme != "srt")
        throw LiveStreamAddressError("Unknown stream address scheme '" + scheme +
                                     "://': use an rtmp://, rtmps:// or srt:// address");
    const ParsedUrl p = parseNetworkUrl(url, schemeEnd);
    t.kind = scheme;
    if (scheme == "srt") {
        if (!p.hasPort) throw LiveStreamAddressError("An srt:// address needs a port, as in srt://host:9000");
        t.address = url;
        t.shownAddress = scheme + "://" + p.hostPort + p.path;
        t.srtStreamId = streamKey;
        return t;
    }
    std::string path = p.path;
    while (!path.empty() && path.back() == '/') path.pop_back();
    if (path.empty())
        throw LiveStreamAddressError("An " + scheme + ":// address needs an application path, as in " +
                                     scheme + "://host/live");
    // A key in the URL itself is shown no more than a separate one.
    if (keyInPath(scheme, path, streamKey)) {
        const std::string key = pathParts(path).back();
        path.erase(path.size() - key.size());
        while (!path.empty() && path.back() == '/') path.pop_back();
    }
    t.shownAddress = scheme + "://" + p.hostPort + path;
    t.address =
        url.substr(0, schemeEnd + 3) + url.substr(schemeEnd + 3, url.size() - schemeEnd - 3 - p.query.size());
    while (!t.address.empty() && t.address.back() == '/') t.address.pop_back();
    if (!streamKey.empty()) t.address += "/" + streamKey;
    t.address += p.query;
    return t;
}

}  // namespace

LiveStreamTarget liveStreamTarget(const std::string& url, const std::string& streamKey) {
    // Messages that quote the address name none of its secrets.
    const auto redacted = [&](const std::exception& e) {
        return redactStreamSecrets(e.what(), liveStreamSecrets(url, streamKey));
    };
    try {
        return targetOf(url, streamKey);
    } catch (const LiveStreamAddressError& e) {
        throw LiveStreamAddressError(redacted(e));
    } catch (const LiveStreamError& e) {
        throw LiveStreamError(redacted(e));
    }
}

bool streamAddressCarriesKey(const std::string& url) {
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) return false;
    const std::string scheme = lower(url.substr(0, schemeEnd));
    if (scheme != "rtmp" && scheme != "rtmps") return false;
    const std::size_t begin = schemeEnd + 3;
    const std::size_t authorityEnd = std::min(url.find_first_of("/?#", begin), url.size());
    const std::size_t q = std::min(url.find_first_of("?#", authorityEnd), url.size());
    return keyInPath(scheme, url.substr(authorityEnd, q - authorityEnd), {});
}

std::string srtPassphraseFault(const std::string& url) {
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos || lower(url.substr(0, schemeEnd)) != "srt") return {};
    const std::size_t q = url.find('?');
    if (q == std::string::npos) return {};
    const auto passphrase = queryValue(url.substr(q, url.find('#', q) - q), "passphrase");
    if (!passphrase || (passphrase->size() >= kMinSrtPassphrase && passphrase->size() <= kMaxSrtPassphrase))
        return {};
    return "An SRT passphrase must be " + std::to_string(kMinSrtPassphrase) + " to " +
           std::to_string(kMaxSrtPassphrase) + " characters long";
}

std::string liveStreamKind(const std::string& url) {
    return liveStreamTarget(url, {}).kind;
}

std::vector<std::string> virtualCameraDevices() {
    return virtualCameraDevices("/sys");
}

// A loopback device is a virtual one (no parent "device" in sysfs, unlike cameras on
// USB or PCI); where the node can be opened its driver must also say "v4l2 loopback".
// Nodes are probed only for the real sysfs tree.
std::vector<std::string> virtualCameraDevices(const std::string& sysfsRoot) {
    std::vector<std::pair<int, std::string>> found;
    std::error_code ec;
    const fs::path classDir = fs::path(sysfsRoot) / "class" / "video4linux";
    for (fs::directory_iterator it(classDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const int number = videoNumber(name, "video");
        if (number < 0) continue;
        std::error_code e2;
        if (fs::exists(it->path() / "device", e2)) continue;
        const std::string node = "/dev/" + name;
        if (sysfsRoot == "/sys") {
            const std::string driver = queryDriver(node);
            if (!driver.empty() && driver != "v4l2 loopback") continue;
        }
        found.emplace_back(number, node);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> out;
    for (auto& [n, node] : found) out.push_back(node);
    return out;
}

}  // namespace vantry::platform
