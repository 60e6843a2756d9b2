// "vantry-cli facecam-selftest": the facecam's background-occlusion self-test.
#include <cstdio>
#include <memory>

#include <QGuiApplication>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "creator/studio-overlay/OruCreatorFacecamSelfTestV1045.h"

namespace {

int runFacecamSelfTest(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {"out"});
    if (!parsed.positional().empty())
        throw vantry::app::cli::UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    const std::string out = parsed.required("out");
    vantry::app::cli::createParentFolder(out);

    // The captions need the font system; no display is needed.
    std::unique_ptr<QGuiApplication> app;
    if (QCoreApplication::instance() == nullptr) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "vantry-cli";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    const auto receipt = vantry::creator::OruCreatorFacecamSelfTestV1045::runSelfTestAndRenderProof(out);
    std::printf("%s\n", receipt.toJson().c_str());
    return 0;
}

const vantry::app::cli::CommandRegistrar kFacecamSelfTest(
    {"facecam-selftest", "Run the facecam self-test and write its proof PNG",
     "Usage: vantry-cli facecam-selftest --out FILE.png\n\n"
     "Blends a synthetic head-and-shoulders subject with the facecam's mask blend, measures how much\n"
     "became transparent and how much stayed opaque, writes a 1280 x 720 proof picture and prints\n"
     "the receipt as JSON.",
     runFacecamSelfTest});

}  // namespace
