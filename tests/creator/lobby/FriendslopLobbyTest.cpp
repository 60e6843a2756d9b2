#include "creator/lobby/FriendslopLobby.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>

namespace vantry::creator {
namespace {

// A random source that hands out scripted words and counts the draws.
struct ScriptedWords {
    std::deque<std::uint32_t> words;
    int draws = 0;
    std::uint32_t operator()() {
        ++draws;
        const std::uint32_t w = words.front();
        words.pop_front();
        return w;
    }
};

TEST(LobbyRoomNumber, MapsWordsIntoRangeAndRedrawsTheBiasedTop) {
    constexpr std::uint32_t top = std::numeric_limits<std::uint32_t>::max();
    // 2^32 mod 9000 = 5296: the last 5296 words would favour the low remainders.
    constexpr std::uint32_t firstRejected = top - 5295;
    struct Case {
        std::deque<std::uint32_t> words;
        int expected;
        int draws;
    };
    const Case cases[] = {
        {{0}, 1000, 1},
        {{8999}, 9999, 1},
        {{9000}, 1000, 1},
        {{firstRejected - 1}, int((firstRejected - 1) % 9000) + 1000, 1},
        {{firstRejected, 5}, 1005, 2},
        {{top, top, 42}, 1042, 3},
    };
    for (const Case& c : cases) {
        ScriptedWords source{c.words};
        EXPECT_EQ(lobby::roomNumber(std::ref(source)), c.expected);
        EXPECT_EQ(source.draws, c.draws);
    }
}

TEST(LobbyRoomNumber, CodeAndBannerTexts) {
    EXPECT_EQ(lobby::roomCode("NYC", 1000), "NYC-1000");
    EXPECT_EQ(lobby::newRoomBanner("GRIM-4821"), "New 4P Room GRIM-4821 Open!");
}

TEST(LobbyChatter, LevelsAtTimeZeroFollowListPosition) {
    auto speakers = lobby::initialSpeakers("Me");
    ASSERT_EQ(speakers.size(), 4u);
    EXPECT_EQ(speakers[0].displayName, "Me");
    EXPECT_TRUE(speakers[0].isLocalPlayer);
    EXPECT_EQ(speakers[3].occludingWalls, 1);
    lobby::pulseSimulatedChatter(speakers, true, true, 0);
    EXPECT_FLOAT_EQ(speakers[0].voiceActivityLevel, 0.18f);
    EXPECT_NEAR(speakers[1].voiceActivityLevel, (std::sin(2.1) - 0.55) * 2.1, 1e-5);
    EXPECT_NEAR(speakers[1].voiceActivityLevel, 0.658, 1e-3);
    EXPECT_FLOAT_EQ(speakers[2].voiceActivityLevel, 0.04f);
    EXPECT_FLOAT_EQ(speakers[3].voiceActivityLevel, 0.04f);

    // Reordering moves the levels with the positions, not with the ids.
    std::swap(speakers[1], speakers[2]);
    lobby::pulseSimulatedChatter(speakers, true, true, 0);
    EXPECT_EQ(speakers[1].id, "p3");
    EXPECT_NEAR(speakers[1].voiceActivityLevel, 0.658, 1e-3);
    EXPECT_FLOAT_EQ(speakers[2].voiceActivityLevel, 0.04f);
}

TEST(LobbyChatter, SwitchesAndMutesZeroTheLevels) {
    struct Case {
        bool voice, mic;
        const char* muted;
        float expected[4];  // negative: the formula's value stays (above zero)
    };
    const Case cases[] = {
        {false, true, nullptr, {0, 0, 0, 0}},
        {true, false, nullptr, {0, -1, -1, -1}},
        {true, true, "p2", {-1, 0, -1, -1}},
        {true, true, "p1", {0, -1, -1, -1}},
    };
    for (const Case& c : cases) {
        auto speakers = lobby::initialSpeakers("Me");
        if (c.muted) {
            ASSERT_TRUE(lobby::toggleMute(speakers, c.muted));
        }
        lobby::pulseSimulatedChatter(speakers, c.voice, c.mic, 0.7f);
        for (int i = 0; i < 4; ++i) {
            if (c.expected[i] < 0)
                EXPECT_GT(speakers[i].voiceActivityLevel, 0) << i;
            else
                EXPECT_EQ(speakers[i].voiceActivityLevel, c.expected[i]) << i;
        }
    }
}

TEST(LobbyChatter, UnmuteLetsTheFormulaApplyAgainAndUnknownIdsChangeNothing) {
    auto speakers = lobby::initialSpeakers("Me");
    EXPECT_FALSE(lobby::toggleMute(speakers, "p9"));
    for (const auto& s : speakers) EXPECT_FALSE(s.isMuted);
    lobby::toggleMute(speakers, "p2");
    lobby::pulseSimulatedChatter(speakers, true, true, 0);
    EXPECT_EQ(speakers[1].voiceActivityLevel, 0);
    lobby::toggleMute(speakers, "p2");
    lobby::pulseSimulatedChatter(speakers, true, true, 0);
    EXPECT_NEAR(speakers[1].voiceActivityLevel, 0.658, 1e-3);

    std::vector<OruProximityVoiceSpeakerV1020> none;
    lobby::pulseSimulatedChatter(none, true, true, 1);
    EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace vantry::creator
