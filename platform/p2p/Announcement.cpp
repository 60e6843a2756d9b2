#include "platform/p2p/Announcement.h"

#include <algorithm>

namespace vantry::platform::p2p {

namespace {

constexpr std::uint8_t kBeaconMagic[4] = {'O', 'V', 'B', '1'};
constexpr std::uint8_t kHelloMagic[4] = {'O', 'V', 'H', '1'};
constexpr std::size_t kFixedBytes = 16;

bool cleanText(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
}

bool putText(std::vector<std::uint8_t>& out, std::string_view text, std::size_t maxBytes) {
    if (text.size() > maxBytes || !cleanText(text)) return false;
    out.push_back(static_cast<std::uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
    return true;
}

// Reads one length-prefixed text at pos; absent when it does not fit or breaks a rule.
std::optional<std::string> takeText(std::span<const std::uint8_t> bytes, std::size_t& pos,
                                    std::size_t maxBytes) {
    if (pos >= bytes.size()) return std::nullopt;
    const std::size_t n = bytes[pos++];
    if (n > maxBytes || n > bytes.size() - pos) return std::nullopt;
    std::string text(reinterpret_cast<const char*>(bytes.data() + pos), n);
    pos += n;
    if (!cleanText(text)) return std::nullopt;
    return text;
}

}  // namespace

std::vector<std::uint8_t> encodeAnnouncement(const Announcement& a, AnnouncementKind kind) {
    std::vector<std::uint8_t> out;
    out.reserve(Announcement::maxEncodedBytes);
    const auto* magic = kind == AnnouncementKind::beacon ? kBeaconMagic : kHelloMagic;
    out.insert(out.end(), magic, magic + 4);
    out.push_back(Announcement::currentVersion);
    out.push_back(a.room ? 1 : 0);
    out.push_back(static_cast<std::uint8_t>(a.port & 0xFF));
    out.push_back(static_cast<std::uint8_t>(a.port >> 8));
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(a.instanceId >> (8 * i)));
    if (a.displayName.empty() || !putText(out, a.serviceType, Announcement::maxServiceBytes) ||
        !putText(out, a.room.value_or(""), Announcement::maxRoomBytes) ||
        !putText(out, a.displayName, Announcement::maxNameBytes))
        return {};
    return out;
}

std::optional<Announcement> parseAnnouncement(std::span<const std::uint8_t> bytes, AnnouncementKind kind) {
    if (bytes.size() < kFixedBytes + 3 || bytes.size() > Announcement::maxEncodedBytes) return std::nullopt;
    const auto* magic = kind == AnnouncementKind::beacon ? kBeaconMagic : kHelloMagic;
    if (!std::equal(magic, magic + 4, bytes.begin())) return std::nullopt;
    if (bytes[4] != Announcement::currentVersion || (bytes[5] & ~1u) != 0) return std::nullopt;
    Announcement a;
    a.port = static_cast<std::uint16_t>(bytes[6] | (bytes[7] << 8));
    for (int i = 0; i < 8; ++i) a.instanceId |= static_cast<std::uint64_t>(bytes[8 + i]) << (8 * i);
    std::size_t pos = kFixedBytes;
    auto service = takeText(bytes, pos, Announcement::maxServiceBytes);
    auto room = takeText(bytes, pos, Announcement::maxRoomBytes);
    auto name = takeText(bytes, pos, Announcement::maxNameBytes);
    if (!service || !room || !name || name->empty() || pos != bytes.size()) return std::nullopt;
    const bool hasRoom = (bytes[5] & 1u) != 0;
    if (!hasRoom && !room->empty()) return std::nullopt;
    a.serviceType = std::move(*service);
    if (hasRoom) a.room = std::move(*room);
    a.displayName = std::move(*name);
    return a;
}

std::uint32_t roomHash(std::string_view room) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : room) h = (h ^ c) * 16777619u;
    return h;
}

}  // namespace vantry::platform::p2p
