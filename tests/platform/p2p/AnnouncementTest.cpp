#include <gtest/gtest.h>

#include "platform/p2p/Announcement.h"

using namespace vantry::platform::p2p;

namespace {

Announcement sample() {
    return {47000, 0x0102030405060708ull, "ov-grimfall-v9", "AB-12", "ash"};
}

TEST(Announcement, RoundTripsBothKindsAndAnAbsentRoom) {
    for (auto kind : {AnnouncementKind::beacon, AnnouncementKind::hello}) {
        auto a = sample();
        EXPECT_EQ(parseAnnouncement(encodeAnnouncement(a, kind), kind), a);
        a.room.reset();
        EXPECT_EQ(parseAnnouncement(encodeAnnouncement(a, kind), kind), a);
    }
    const auto bytes = encodeAnnouncement(sample(), AnnouncementKind::beacon);
    EXPECT_EQ(bytes.size(), 16u + 15 + 6 + 4);
    EXPECT_EQ(bytes[6], 47000 & 0xFF);
    EXPECT_EQ(bytes[8], 0x08);
    // A beacon is not a hello.
    EXPECT_FALSE(parseAnnouncement(bytes, AnnouncementKind::hello));
}

TEST(Announcement, RefusesToEncodeWhatCannotBeRead) {
    auto a = sample();
    a.displayName = "";
    EXPECT_TRUE(encodeAnnouncement(a, AnnouncementKind::beacon).empty());
    a = sample();
    a.displayName = "tab\there";
    EXPECT_TRUE(encodeAnnouncement(a, AnnouncementKind::beacon).empty());
    a = sample();
    a.room = std::string(65, 'R');
    EXPECT_TRUE(encodeAnnouncement(a, AnnouncementKind::beacon).empty());
}

TEST(Announcement, RejectsMalformedBytes) {
    const auto good = encodeAnnouncement(sample(), AnnouncementKind::beacon);
    auto mutate = [&](auto change) {
        auto b = good;
        change(b);
        return parseAnnouncement(b, AnnouncementKind::beacon).has_value();
    };
    EXPECT_FALSE(mutate([](auto& b) { b[0] = 'X'; }));          // magic
    EXPECT_FALSE(mutate([](auto& b) { b[4] = 2; }));            // version
    EXPECT_FALSE(mutate([](auto& b) { b[5] = 3; }));            // unknown flag
    EXPECT_FALSE(mutate([](auto& b) { b[5] = 0; }));            // room text without the flag
    EXPECT_FALSE(mutate([](auto& b) { b.push_back(0); }));      // trailing byte
    EXPECT_FALSE(mutate([](auto& b) { b.pop_back(); }));        // truncated
    EXPECT_FALSE(mutate([](auto& b) { b[16] = 200; }));         // length past the end
    EXPECT_FALSE(mutate([](auto& b) { b.back() = 0x07; }));     // control byte in the name
    EXPECT_FALSE(mutate([](auto& b) { b.resize(400, 'x'); }));  // oversized
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(parseAnnouncement(std::span(good.data(), n), AnnouncementKind::beacon)) << n;
}

TEST(Announcement, RoomHashTellsRoomsApart) {
    EXPECT_EQ(roomHash("AB-12"), roomHash("AB-12"));
    EXPECT_NE(roomHash("AB-12"), roomHash("XY-99"));
}

}  // namespace
