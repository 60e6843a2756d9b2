// Any bytes as a discovery beacon and as a session hello. Whatever is accepted must be exactly the
// canonical encoding of what was read, with texts inside their limits, and the encoder refuses it
// once its name is emptied or a text gets a control byte; nothing may crash.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/p2p/Announcement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantry::platform::p2p;
    const std::span<const std::uint8_t> bytes(data, size);
    for (auto kind : {AnnouncementKind::beacon, AnnouncementKind::hello}) {
        const auto a = parseAnnouncement(bytes, kind);
        if (!a) continue;
        if (a->displayName.empty() || a->displayName.size() > Announcement::maxNameBytes ||
            a->serviceType.size() > Announcement::maxServiceBytes ||
            a->room.value_or("").size() > Announcement::maxRoomBytes)
            std::abort();
        const auto again = encodeAnnouncement(*a, kind);
        if (!std::equal(again.begin(), again.end(), bytes.begin(), bytes.end())) std::abort();
        auto nameless = *a;
        nameless.displayName.clear();
        auto control = *a;
        control.serviceType += '\x7f';
        if (!encodeAnnouncement(nameless, kind).empty() || !encodeAnnouncement(control, kind).empty())
            std::abort();
    }
    return 0;
}
