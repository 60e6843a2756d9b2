#include "app/cli/WallSlide.h"

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <fstream>
#include <utility>

#include "platform/files/RegularFile.h"
#include "platform/wall-feed/PdfDeck.h"

namespace vantry::app::cli {
namespace {

std::string lowerExtension(const std::filesystem::path& file) {
    std::string ext = file.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

// A live feed's pictures onto the engine's wall, under the feed's name.
platform::wall::FeedCallbacks ontoTheWall(VantryMetalEngine& engine, std::string name,
                                          std::function<void(const std::string&)> ended) {
    platform::wall::FeedCallbacks callbacks;
    callbacks.picture = [&engine, name = std::move(name)](const QImage& picture) {
        engine.showLEDWallPicture(picture, name);
    };
    callbacks.ended = std::move(ended);
    return callbacks;
}

}  // namespace

SlideKind slideKindOf(const std::filesystem::path& file) {
    std::array<unsigned char, 12> head{};
    std::size_t got = 0;
    // Only a regular file is looked into; anything else is left to the picture loader to refuse.
    if (!platform::whyNotReadable(file, UINTMAX_MAX)) {
        std::ifstream in(file, std::ios::binary);
        in.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
        got = std::size_t(std::max<std::streamsize>(in.gcount(), 0));
    }
    const auto starts = [&](std::size_t at, const char* bytes) {
        const std::size_t n = std::char_traits<char>::length(bytes);
        return got >= at + n && std::equal(bytes, bytes + n, head.begin() + std::ptrdiff_t(at),
                                           [](char a, unsigned char b) { return (unsigned char)a == b; });
    };
    if (starts(0, "%PDF-")) return SlideKind::pdf;
    const std::string heif = got >= 12 ? std::string(head.begin() + 8, head.begin() + 12) : "";
    // ISO media files: HEIC and AVIF pictures are of the family too.
    if (starts(4, "ftyp") && heif.rfind("hei", 0) != 0 && heif.rfind("mif", 0) != 0 &&
        heif.rfind("avi", 0) != 0 && heif.rfind("msf", 0) != 0)
        return SlideKind::video;
    if (starts(0, "\x1a\x45\xdf\xa3") || starts(0, "OggS") || (starts(0, "RIFF") && starts(8, "AVI ")))
        return SlideKind::video;
    const std::string ext = lowerExtension(file);
    if (ext == ".pdf") return SlideKind::pdf;
    for (const char* video :
         {".mp4", ".m4v", ".mov", ".mkv", ".webm", ".avi", ".ogv", ".mpg", ".mpeg", ".ts"})
        if (ext == video) return SlideKind::video;
    return SlideKind::picture;
}

void parseSlideOptions(const Args& args, StudioOptions& o) {
    if (auto slide = args.value("slide")) {
        if (slide->empty()) throw UsageError("option --slide needs a picture, PDF or video file");
        o.slide = std::filesystem::path(*slide);
        o.slideKind = slideKindOf(*o.slide);
    }
    o.slideScreen = args.flag("slide-screen");
    if (o.slideScreen && o.slide) throw UsageError("give --slide or --slide-screen, not both");
    if (!args.has("slide-page")) return;
    o.slidePage = args.integer("slide-page", 1, 1, INT_MAX);
    if (!o.slide || o.slideKind != SlideKind::pdf)
        throw UsageError("option --slide-page needs a PDF --slide");
    std::string error;
    const auto deck = platform::wall::PdfDeck::open(*o.slide, error);
    if (!deck) throw CommandError("cannot show '" + o.slide->string() + "': " + error);
    if (o.slidePage > deck->pageCount())
        throw UsageError("option --slide-page expects a page from 1 to " + std::to_string(deck->pageCount()) +
                         " of '" + o.slide->filename().string() + "', got '" + *args.value("slide-page") +
                         "'");
}

std::string slideOptionsHelp(bool screen) {
    std::string help =
        "  --slide FILE     what the LED wall shows: a picture (PNG, JPEG, HEIC, ...), a PDF (one\n"
        "                   page) or a video (played looped, without its sound)\n"
        "  --slide-page N   the page of a PDF --slide, from 1 (default 1)\n";
    if (screen)
        help +=
            "  --slide-screen   the screen on the LED wall: the X display's whole screen, or on a\n"
            "                   Wayland session the screen or window picked in the desktop's dialog\n";
    return help;
}

void showPdfSlide(const StudioOptions& o, VantryMetalEngine& engine) {
    std::string error;
    const auto deck = platform::wall::PdfDeck::open(*o.slide, error);
    if (!deck) throw CommandError("cannot show '" + o.slide->string() + "': " + error);
    const QImage page = deck->page(o.slidePage - 1);
    if (page.isNull())
        throw CommandError("cannot show page " + std::to_string(o.slidePage) + " of '" + o.slide->string() +
                           "'");
    engine.showLEDWallPicture(page, o.slide->filename().string());
}

std::unique_ptr<platform::wall::WallFeed> startLiveSlide(const StudioOptions& o, VantryMetalEngine& engine,
                                                         std::function<void(const std::string&)> ended) {
    namespace wall = platform::wall;
    std::string error;
    std::unique_ptr<wall::WallFeed> feed;
    if (o.slide && o.slideKind == SlideKind::video) {
        feed = wall::openVideoWallFeed(
            *o.slide, ontoTheWall(engine, o.slide->filename().string(), std::move(ended)), error);
        if (!feed) throw CommandError(error);
    } else if (o.slideScreen) {
        wall::ScreenShareTarget target;
        if (wall::screenShareUsesPortal()) {
            target.kind = wall::ScreenShareTarget::Kind::portal;
            // The portal answers through Qt's D-Bus, which needs an application object.
            if (!QCoreApplication::instance()) {
                static int argc = 1;
                static char program[] = "vantry-cli";
                static char* argv[] = {program, nullptr};
                new QCoreApplication(argc, argv);
            }
        }
        feed = wall::openScreenWallFeed(target, ontoTheWall(engine, "Screen", std::move(ended)), error);
        if (!feed) throw CommandError(error);
    }
    return feed;
}

}  // namespace vantry::app::cli
