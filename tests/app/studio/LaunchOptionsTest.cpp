// The studio window's command line.
#include <gtest/gtest.h>

#include "app/studio-app/LaunchOptions.h"

using vantry::app::parseLaunchOptions;

TEST(LaunchOptions, CameraFileIsNotTakenForAPicture) {
    for (const auto& args :
         {std::vector<std::string>{"--camera", "me.mp4"}, std::vector<std::string>{"--camera=me.mp4"}}) {
        const auto o = parseLaunchOptions(args);
        EXPECT_EQ(o.error, "");
        EXPECT_EQ(o.cameraFile, "me.mp4");
        EXPECT_FALSE(o.picture) << "no picture: the LED wall keeps its own and no banner shows";
    }
    const auto both = parseLaunchOptions({"slide.png", "--camera", "me.mp4"});
    EXPECT_EQ(both.picture, "slide.png");
    EXPECT_EQ(both.cameraFile, "me.mp4");
    EXPECT_EQ(parseLaunchOptions({"--", "-odd.png"}).picture, "-odd.png");
    EXPECT_TRUE(parseLaunchOptions({"--help"}).help);
    EXPECT_TRUE(parseLaunchOptions({"--version"}).version);
}

TEST(LaunchOptions, UnusableCommandLinesAreRefusedWithAReason) {
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--camra", "me.mp4"}, "vantry: unknown option '--camra' (see vantry --help)"},
        {{"--camera"}, "vantry: --camera needs a picture or video file (see vantry --help)"},
        {{"--camera="}, "vantry: --camera needs a picture or video file (see vantry --help)"},
        {{"--remote-address", "localhost"},
         "vantry: --remote-address: 'localhost' is not HOST:PORT (see vantry --help)"},
        {{"--remote-address=:0"},
         "vantry: --remote-address: the port must be a number from 1 to 65535, not '0' (see vantry --help)"},
        {{"--controller-address", "localhost"},
         "vantry: --controller-address: 'localhost' is not HOST:PORT (see vantry --help)"},
        {{"--controller-address=[::1]:70000"},
         "vantry: --controller-address: the port must be a number from 1 to 65535, not '70000' (see vantry "
         "--help)"},
        {{"--controller-addressx=:1"},
         "vantry: unknown option '--controller-addressx=:1' (see vantry --help)"},
        {{"a.png", "b.png"},
         "vantry: only one picture goes on the LED wall, 'b.png' is one too many (see vantry --help)"},
    };
    for (const auto& c : cases) EXPECT_EQ(parseLaunchOptions(c.args).error, c.error) << c.args[0];
}

TEST(LaunchOptions, RemoteControlIsOffUnlessAskedFor) {
    EXPECT_FALSE(parseLaunchOptions({"slide.png"}).remote);
    const auto plain = parseLaunchOptions({"--remote"});
    EXPECT_TRUE(plain.remote);
    EXPECT_EQ(plain.remoteHost, "");
    for (const auto& args : {std::vector<std::string>{"--remote-address", "127.0.0.2:9000"},
                             std::vector<std::string>{"--remote-address=127.0.0.2:9000"}}) {
        const auto o = parseLaunchOptions(args);
        EXPECT_EQ(o.error, "");
        EXPECT_TRUE(o.remote) << "naming an address switches the remote control on";
        EXPECT_EQ(o.remoteHost, "127.0.0.2");
        EXPECT_EQ(o.remotePort, 9000);
    }
}

TEST(LaunchOptions, TheObsWebSocketEndpointMovesAsTheRemoteAddressDoes) {
    const auto plain = parseLaunchOptions({"--remote"});
    EXPECT_EQ(plain.controllerHost, "");
    EXPECT_EQ(plain.controllerPort, 0);
    for (const auto& args : {std::vector<std::string>{"--controller-address", ":4466"},
                             std::vector<std::string>{"--controller-address=:4466"}}) {
        const auto o = parseLaunchOptions(args);
        EXPECT_EQ(o.error, "");
        EXPECT_TRUE(o.remote) << "naming an address switches the remote control on";
        EXPECT_EQ(o.controllerHost, "127.0.0.1");
        EXPECT_EQ(o.controllerPort, 4466);
        EXPECT_EQ(o.remoteHost, "") << "the native endpoint keeps its own address";
    }
}
