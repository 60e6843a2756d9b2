#include "platform/wall-feed/PdfDeck.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QPdfDocument>
#include <QTemporaryDir>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/wall-feed/WallFeed.h"
#include "tests/support/AwkwardFiles.h"
#include "tests/support/MadeUpPdf.h"

namespace vantry::platform::wall {
namespace {

using testing::MadeUpPage;

using testing::nearColour;

class PdfDeckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::pdfWritingApplication();
        ASSERT_TRUE(dir.isValid());
    }
    std::filesystem::path path(const std::string& name) const {
        return std::filesystem::path(dir.path().toStdString()) / name;
    }
    std::filesystem::path colourDeck() {
        const auto file = path("colours.pdf");
        testing::writeMadeUpPdf(file, pages);
        return file;
    }

    QTemporaryDir dir;
    const std::vector<MadeUpPage> pages{{QColor(220, 30, 30)},
                                        {QColor(30, 200, 40)},
                                        {QColor(30, 40, 220)},
                                        {QColor(240, 200, 20), QSizeF(595, 842)}};  // the last one portrait
};

TEST_F(PdfDeckTest, EachPageIsItsOwnColourFittedIntoTheLiveSize) {
    std::string error;
    const auto deck = PdfDeck::open(colourDeck(), error);
    ASSERT_NE(deck, nullptr) << error;
    ASSERT_EQ(deck->pageCount(), 4);
    for (int i = 0; i < deck->pageCount(); ++i) {
        SCOPED_TRACE(i);
        const QImage picture = deck->page(i);
        ASSERT_EQ(picture.size(), QSize(kLivePictureWidth, kLivePictureHeight));
        EXPECT_EQ(picture.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_TRUE(nearColour(picture.pixel(640, 360), pages[std::size_t(i)].colour))
            << std::hex << picture.pixel(640, 360);
        // The white margin of the page, a twentieth in from its edge.
        const bool portrait = i == 3;
        const int marginX = portrait ? 640 - 255 + 12 : 32;
        EXPECT_TRUE(nearColour(picture.pixel(marginX, 360), Qt::white))
            << std::hex << picture.pixel(marginX, 360);
        // Beside a portrait page the wall is black.
        EXPECT_TRUE(nearColour(picture.pixel(100, 360), portrait ? QColor(Qt::black) : QColor(Qt::white)));
    }
    EXPECT_TRUE(deck->page(4).isNull());
    EXPECT_TRUE(deck->page(-1).isNull());
}

TEST_F(PdfDeckTest, ShowHandsOverThePageAndRendersItsNeighboursAhead) {
    std::string error;
    const auto deck = PdfDeck::open(colourDeck(), error);
    ASSERT_NE(deck, nullptr) << error;
    std::mutex mutex;
    std::vector<std::pair<int, QRgb>> shown;
    const auto record = [&](int index, const QImage& picture) {
        std::lock_guard lock(mutex);
        shown.emplace_back(index, picture.pixel(640, 360));
    };
    deck->show(1, record);
    deck->waitIdle();
    EXPECT_TRUE(deck->isReady(0));
    EXPECT_TRUE(deck->isReady(1));
    EXPECT_TRUE(deck->isReady(2));
    EXPECT_FALSE(deck->isReady(3));
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].first, 1);
        EXPECT_TRUE(nearColour(shown[0].second, pages[1].colour));
    }
    // The next page is ready: it comes before show() returns.
    deck->show(2, record);
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(shown.size(), 2u);
        EXPECT_EQ(shown[1].first, 2);
        EXPECT_TRUE(nearColour(shown[1].second, pages[2].colour));
    }
    deck->waitIdle();
    EXPECT_TRUE(deck->isReady(3));
    EXPECT_FALSE(deck->isReady(0));  // only the pages beside the one shown are kept
    // Quick steps: only the last page asked for has to arrive, and it arrives last.
    deck->show(0, record);
    deck->show(3, record);
    deck->waitIdle();
    std::lock_guard lock(mutex);
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(shown.back().first, 3);
    EXPECT_TRUE(nearColour(shown.back().second, pages[3].colour));
}

TEST_F(PdfDeckTest, RefusesWhatIsNoUsableDeck) {
    const std::string ok = "<< /Type /Catalog /Pages 2 0 R >>";
    struct Case {
        std::string what;
        std::string bytes;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"an empty file", "", "is not a readable PDF file"},
        {"a damaged file", "%PDF-1.4\n1 0 obj\n<< /Type /Cat\x01\x02 garbage", "is not a readable PDF file"},
        {"a text file", "Hello, this is not a PDF.\n", "is not a readable PDF file"},
        {"a password-protected file", testing::passwordProtectedPdf("secret"), "is protected by a password"},
        // Qt's PDF module does not load a document without pages at all.
        {"a deck without pages", testing::handWrittenPdf({ok, "<< /Type /Pages /Kids [] /Count 0 >>"}, ""),
         "is not a readable PDF file"},
        {"a page larger than the limits",
         testing::handWrittenPdf(testing::onePageObjects("[0 0 14400 14400]"), ""), "Page 1 of"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto file = path("case.pdf");
        testing::writeBytes(file, c.bytes);
        std::string error;
        EXPECT_EQ(PdfDeck::open(file, error), nullptr);
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_NE(error.find("case.pdf"), std::string::npos) << error;
    }
    for (const auto& awkward :
         testing::makeAwkwardFiles(path("awkward"), "deck", std::uintmax_t(kDeckMaxFileBytes))) {
        SCOPED_TRACE(awkward.what);
        std::string error;
        EXPECT_EQ(PdfDeck::open(awkward.path, error), nullptr);
        EXPECT_NE(error.find(awkward.reason), std::string::npos) << error;
    }
}

TEST_F(PdfDeckTest, TheMadeUpProtectedFileAsksQtForAPassword) {
    // The refusal above is the password's: with the right password the same file opens.
    QByteArray bytes = QByteArray::fromStdString(testing::passwordProtectedPdf("secret"));
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    QPdfDocument document;
    document.load(&buffer);
    EXPECT_EQ(document.error(), QPdfDocument::Error::IncorrectPassword);
    QBuffer again(&bytes);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    QPdfDocument unlocked;
    unlocked.setPassword("secret");
    unlocked.load(&again);
    EXPECT_EQ(unlocked.status(), QPdfDocument::Status::Ready);
    EXPECT_EQ(unlocked.pageCount(), 1);
}

}  // namespace
}  // namespace vantry::platform::wall
