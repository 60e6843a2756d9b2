#include <filesystem>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include "creator/studio-overlay/OruCreatorFacecamSelfTestV1045.h"

using namespace vantry::creator;
namespace fs = std::filesystem;

namespace {

// One application for the whole test process, deliberately never destroyed: destroying it
// during static destruction, after Qt's own globals are gone, crashes.
void ensureGuiApplication() {
    static int argc = 1;
    static char name[] = "studio_overlay_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        new QGuiApplication(argc, argv);
    }
}

fs::path scratch(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / ("vantry-selftest-" + std::to_string(::getpid())) / name;
    fs::remove_all(dir);
    return dir;
}

}  // namespace

TEST(FacecamSelfTest, MeasuresTheOcclusionAndWritesTheProofInNewFolders) {
    ensureGuiApplication();
    const fs::path png = scratch("ratios") / "deep" / "er" / "proof.png";
    const auto receipt = OruCreatorFacecamSelfTestV1045::runSelfTestAndRenderProof(png);
    EXPECT_EQ(receipt.proofPNGPath, png.string());
    // The figure covers 28,090 of 65,536 pixel centres; antialiased edge pixels count as neither.
    EXPECT_LT(receipt.bgOcclusionTransparentRatio, 37446.0 / 65536.0);
    EXPECT_GT(receipt.bgOcclusionTransparentRatio, 0.55);
    EXPECT_LT(receipt.subjectOpaqueRatio, 28090.0 / 65536.0);
    EXPECT_GT(receipt.subjectOpaqueRatio, 0.41);
    EXPECT_LE(receipt.bgOcclusionTransparentRatio + receipt.subjectOpaqueRatio, 1.0);
    EXPECT_TRUE(receipt.replayKitAvailable);
    EXPECT_TRUE(receipt.dragAndScaleClampedOK);
    EXPECT_TRUE(receipt.micLevelMeterWorking);

    QImage proof(QString::fromStdString(png.string()));
    ASSERT_FALSE(proof.isNull());
    EXPECT_EQ(proof.size(), QSize(1280, 720));
    // Backdrop colour in a quiet corner, the subject's transparent corner showing the backdrop,
    // the subject's head and the recording dot.
    const QColor backdrop = proof.pixelColor(5, 360);
    EXPECT_NEAR(backdrop.redF(), 0.05, 0.01);
    EXPECT_NEAR(backdrop.blueF(), 0.16, 0.01);
    EXPECT_EQ(proof.pixel(972, 678), proof.pixel(5, 678));
    const QColor head = proof.pixelColor(970 + 128, 720 - 44 - 160);
    EXPECT_NEAR(head.redF(), 0.88, 0.01);
    const QColor dot = proof.pixelColor(820, 720 - 672);
    EXPECT_NEAR(dot.redF(), 1.0, 0.01);
    EXPECT_NEAR(dot.greenF(), 0.22, 0.01);
    fs::remove_all(png.parent_path().parent_path().parent_path());
}

TEST(FacecamSelfTest, FailuresCarryTheirCodesAndFolderErrorsPassThrough) {
    ensureGuiApplication();
    const fs::path dir = scratch("errors");
    fs::create_directories(dir / "a-folder");
    try {
        OruCreatorFacecamSelfTestV1045::runSelfTestAndRenderProof(dir / "a-folder");  // a folder, not a file
        FAIL() << "writing over a folder must fail";
    } catch (const CreatorCamError& e) {
        EXPECT_EQ(e.code(), 3);
        EXPECT_STREQ(CreatorCamError::kDomain, "CreatorCam");
        EXPECT_NE(std::string(e.what()).find("CreatorCam error 3"), std::string::npos);
    }
    std::ofstream(dir / "plain-file") << "x";
    EXPECT_THROW(OruCreatorFacecamSelfTestV1045::runSelfTestAndRenderProof(dir / "plain-file" / "proof.png"),
                 fs::filesystem_error);
    fs::remove_all(dir);
}

TEST(FacecamSelfTest, ReceiptJsonKeepsFieldOrderAndRoundTrips) {
    OruCreatorFacecamSelfTestReceiptV1045 r;
    r.proofPNGPath = "/tmp/a \"quoted\" path.png";
    r.bgOcclusionTransparentRatio = 0.5625;
    r.subjectOpaqueRatio = 0.421875;
    const std::string json = r.toJson();
    const char* keys[] = {"proofPNGPath",       "bgOcclusionTransparentRatio", "subjectOpaqueRatio",
                          "replayKitAvailable", "dragAndScaleClampedOK",       "micLevelMeterWorking"};
    std::size_t last = 0;
    for (const char* key : keys) {
        const std::size_t at = json.find(std::string("\"") + key + "\"");
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, last) << key;
        last = at;
    }
    EXPECT_EQ(OruCreatorFacecamSelfTestReceiptV1045::fromJson(json), r);
    EXPECT_FALSE(OruCreatorFacecamSelfTestReceiptV1045::fromJson("{\"proofPNGPath\": 3}"));
    EXPECT_FALSE(OruCreatorFacecamSelfTestReceiptV1045::fromJson("not json"));
}
