#include <gtest/gtest.h>

#include <QFont>
#include <QGuiApplication>
#include <QRawFont>
#include <cmath>
#include <limits>
#include <string>

#include "app/studio-app/DoctorReport.h"
#include "app/studio-app/QuickFilePanels.h"
#include "app/studio-app/StudioText.h"
#include "platform/fonts/BrandFonts.h"
#include "platform/fonts/SubpixelHint.h"
#include "platform/symbols/SymbolGlyphs.h"

namespace vantry::app {
namespace {

TEST(StudioText, FrameRateBadgeRoundsHalvesAwayFromZero) {
    EXPECT_EQ(fpsBadgeText(120.0), "120 FPS");
    EXPECT_EQ(fpsBadgeText(59.5), "60 FPS");
    EXPECT_EQ(fpsBadgeText(59.49), "59 FPS");
    EXPECT_EQ(fpsBadgeText(0.5), "1 FPS");
    EXPECT_EQ(fpsBadgeText(-0.5), "-1 FPS");
    EXPECT_EQ(fpsBadgeText(std::nan("")), "0 FPS");
    EXPECT_EQ(fpsBadgeText(std::numeric_limits<double>::infinity()), "0 FPS");
    EXPECT_EQ(fpsBadgeText(1e12), std::to_string(std::numeric_limits<int>::max()) + " FPS");
}

TEST(StudioText, BannersAndNames) {
    EXPECT_EQ(switchedSetBanner(BroadcastStudioSet::timberPodcast),
              "Switched Studio Set: Warm Timber Podcast");
    EXPECT_EQ(mountedSlideBanner("keynote.png"), "Mounted keynote.png onto 3D LED Wall");
    EXPECT_EQ(exportedBanner(3670016), "Exported 1080p Studio Broadcast (3.5 MB)");
    EXPECT_EQ(exportedBanner(1572864), "Exported 1080p Studio Broadcast (1.5 MB)");
    EXPECT_EQ(exportedBanner(0), "Exported 1080p Studio Broadcast (0.0 MB)");
    EXPECT_EQ(exportFailedBanner("  disk full\n"), "Export failed: disk full");
    EXPECT_EQ(exportFailedBanner(""), "Export failed: the file could not be written");
    EXPECT_EQ(slideLoadFailedBanner("notes.txt"), "Could not load notes.txt onto the LED Wall");
    EXPECT_EQ(proposedExportName(BroadcastStudioSet::keynoteArena), "Vantry_keynote-arena_1080p.mp4");
    EXPECT_EQ(onAirText(BroadcastStudioSet::manhattanLoft), "ON AIR \u00B7 Manhattan Skyline Loft");
    // "%.2f" rounds the binary value: 0.125 is exact and goes to even, 1.35f is just above 1.35.
    EXPECT_EQ(gainText(0.125), "0.12");
    EXPECT_EQ(gainText(1.35f), "1.35");
    EXPECT_EQ(gainText(2.4), "2.40");
}

TEST(StudioText, ContrastFollowsTheWcagFormula) {
    const Rgb white{1, 1, 1};
    const Rgb black{0, 0, 0};
    EXPECT_NEAR(contrastRatio(white, black), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio(black, white), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio(white, white), 1.0, 1e-9);
    EXPECT_NEAR(relativeLuminance({0.5, 0.5, 0.5}), 0.21404, 1e-4);
    const Rgb half = compositeOver(black, 0.25, white);
    EXPECT_DOUBLE_EQ(half.r, 0.75);
    EXPECT_DOUBLE_EQ(compositeOver(black, 2.0, white).g, 0.0);  // opacity is clamped
}

TEST(SubpixelHint, OnlyTheDesktopsXftRgbaAsksForColouredText) {
    struct Case {
        const char* resources;
        bool subpixel;
    };
    const Case cases[] = {
        {"", false},
        {"Xft.dpi:\t96\nXft.antialias:\t1\n", false},
        {"Xft.rgba:\trgb\n", true},
        {"Xft.dpi: 96\nXft.rgba:   bgr  \nXft.hinting: 1", true},
        {"Xft.rgba:\tvrgb", true},
        {"Xft.rgba:\tnone\n", false},
        {"Xft.rgba:\tunknown\n", false},
        {"Xft.rgba:\trgb\nXft.rgba:\tnone\n", false},  // the last one wins
        {"URxvt.Xft.rgba:\trgb\n", false},
        {"no colon here\nXft.rgba\n", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::xresourcesAskForSubpixelText(c.resources), c.subpixel) << c.resources;
}

TEST(DoctorReport, JsonHasEveryKeyWithNullsWhereNothingWasMeasured) {
    DoctorReport r;
    r.glRenderer = "llvmpipe \"x\"";
    r.displayServer = displayServerName(nullptr, ":99");
    r.soundServer = soundServerName(false, true);
    r.cameras = {{"Integrated Camera", "/dev/video0"}};
    r.modelFiles = {{"/m/a.onnx", true}, {"/m/b.onnx", false}};
    r.studioFramesPerSecond = 11.96;
    const std::string json = doctorReportJson(r);
    EXPECT_EQ(json,
              "{\n  \"glRenderer\": \"llvmpipe \\\"x\\\"\",\n  \"glVersion\": null,\n  \"displayServer\": "
              "\"x11\",\n"
              "  \"cameras\": [\n    {\"name\": \"Integrated Camera\", \"id\": \"/dev/video0\"}\n  ],\n"
              "  \"audioInputs\": [],\n  \"audioOutputs\": [],\n  \"soundServer\": \"PulseAudio\",\n"
              "  \"v4l2loopbackDevices\": [],\n  \"modelFiles\": [\n    {\"path\": \"/m/a.onnx\", "
              "\"present\": true},\n"
              "    {\"path\": \"/m/b.onnx\", \"present\": false}\n  ],\n  \"uiFramesPerSecond\": null,\n"
              "  \"studioFramesPerSecond\": 12.0\n}\n");
    EXPECT_EQ(displayServerName("wayland-0", ":0"), "wayland");
    EXPECT_EQ(displayServerName("", ""), "none");
    EXPECT_EQ(soundServerName(true, true), "PipeWire");
    EXPECT_EQ(soundServerName(false, false), "none");
}

TEST(DoctorReport, ListsTheH264EncoderAndWhyEachHardwareOneIsNotUsed) {
    DoctorReport r;
    r.h264Encoder = "h264_vaapi";
    r.hardwareEncoders = {{"h264_nvenc", "no NVIDIA device (/dev/nvidia0)"}, {"h264_vaapi", ""}};
    const std::string json = doctorReportJson(r);
    EXPECT_NE(json.find("  \"studioFramesPerSecond\": null,\n  \"h264Encoder\": \"h264_vaapi\",\n"
                        "  \"hardwareEncoders\": [\n"
                        "    {\"name\": \"h264_nvenc\", \"usable\": false, \"problem\": \"no NVIDIA device "
                        "(/dev/nvidia0)\"},\n"
                        "    {\"name\": \"h264_vaapi\", \"usable\": true, \"problem\": \"\"}\n  ]\n}\n"),
              std::string::npos)
        << json;
}

TEST(SymbolGlyphs, TableIsSortedUniqueAndCoversTheWindow) {
    const auto glyphs = platform::symbolGlyphs();
    for (std::size_t i = 1; i < glyphs.size(); ++i) EXPECT_LT(glyphs[i - 1].symbol, glyphs[i].symbol);
    for (const char* name : {"video.badge.waveform.fill", "person.crop.rectangle.fill",
                             "person.crop.rectangle", "tv.inset.filled", "record.circle.fill"}) {
        EXPECT_NE(platform::findSymbolGlyph(name), nullptr) << name;
    }
    EXPECT_NE(platform::symbolCodepoint("person.crop.rectangle"),
              platform::symbolCodepoint("person.crop.rectangle.fill"));
    EXPECT_EQ(platform::findSymbolGlyph("no.such.symbol"), nullptr);
    EXPECT_EQ(platform::symbolCodepoint("no.such.symbol"), U'\uE8FD');
}

TEST(SymbolGlyphs, EveryGlyphIsInTheMaterialIconsFont) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "studio_text_tests";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    const QString family = platform::materialIconsFamily();
    ASSERT_FALSE(family.isEmpty()) << "fonts-material-design-icons-iconfont is missing";
    QFont font(family);
    font.setPixelSize(24);
    const QRawFont raw = QRawFont::fromFont(font);
    ASSERT_TRUE(raw.isValid());
    for (const auto& glyph : platform::symbolGlyphs()) {
        EXPECT_TRUE(raw.supportsCharacter(static_cast<uint>(glyph.codepoint))) << glyph.symbol;
    }
    EXPECT_TRUE(raw.supportsCharacter(0xE8FDu));
}

TEST(QuickFilePanels, NameFiltersOfferEveryTypeFirstThenEachInOrder) {
    const auto filters = QuickFilePanels::nameFilters(
        {{"PNG image", {"png"}}, {"JPEG image", {"jpg", "jpeg"}}, {"HEIC image", {"heic"}}});
    ASSERT_EQ(filters.size(), 4);
    EXPECT_EQ(filters[0], "PNG, JPEG or HEIC (*.png *.jpg *.jpeg *.heic)");
    EXPECT_EQ(filters[1], "PNG image (*.png)");
    EXPECT_EQ(filters[2], "JPEG image (*.jpg *.jpeg)");
    EXPECT_EQ(filters[3], "HEIC image (*.heic)");
    EXPECT_EQ(QuickFilePanels::nameFilters({{"MPEG-4 movie", {"mp4"}}}), QStringList{"MPEG-4 movie (*.mp4)"});
}

TEST(QuickFilePanels, SavedFilesKeepOrGainTheMP4Extension) {
    const std::vector<PanelFileType> mp4{{"MPEG-4 movie", {"mp4"}}};
    using P = std::filesystem::path;
    EXPECT_EQ(QuickFilePanels::withAllowedExtension(P("/v/clip"), mp4), P("/v/clip.mp4"));
    EXPECT_EQ(QuickFilePanels::withAllowedExtension(P("/v/clip.mp4"), mp4), P("/v/clip.mp4"));
    EXPECT_EQ(QuickFilePanels::withAllowedExtension(P("/v/CLIP.MP4"), mp4), P("/v/CLIP.MP4"));
    EXPECT_EQ(QuickFilePanels::withAllowedExtension(P("/v/clip.mov"), mp4), P("/v/clip.mov.mp4"));
}

TEST(QuickFilePanels, RequestsWithoutAWindowAndRepeatedRequestsAreCancelled) {
    QuickFilePanels panels;
    int cancelled = 0;
    std::optional<std::filesystem::path> chosen;
    panels.runOpenPanel({"t", {}}, [&](auto file) { cancelled += !file.has_value(); });
    EXPECT_EQ(cancelled, 1);  // nobody shows panels

    QString shownTitle;
    QObject::connect(&panels, &QuickFilePanels::saveRequested,
                     [&](const QString& title, const QString&, const QStringList&) { shownTitle = title; });
    panels.runSavePanel({"first", "a.mp4", {{"MPEG-4 movie", {"mp4"}}}},
                        [&](auto file) { cancelled += !file; });
    panels.runSavePanel({"second", "b.mp4", {{"MPEG-4 movie", {"mp4"}}}}, [&](auto file) { chosen = file; });
    EXPECT_EQ(cancelled, 2);  // the first panel was replaced
    EXPECT_EQ(shownTitle, "second");
    panels.finishSave(QUrl::fromLocalFile("/videos/take"));
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, std::filesystem::path("/videos/take.mp4"));
    chosen.reset();
    panels.finishSave(QUrl::fromLocalFile("/videos/again.mp4"));  // nothing pending: ignored
    EXPECT_FALSE(chosen.has_value());
}

}  // namespace
}  // namespace vantry::app
