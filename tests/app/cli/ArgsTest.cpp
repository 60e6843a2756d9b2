// The option parser shared by every vantry-cli command: ranges are checked the same way
// everywhere and a refusal states the range; output folders fail with one wording.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/cli/Args.h"

namespace {

using vantry::app::cli::Args;
using vantry::app::cli::CommandError;
using vantry::app::cli::UsageError;

std::string usageErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const UsageError& e) {
        return e.what();
    }
    return "";
}

TEST(CliArgs, NumbersOutsideTheirRangeAreRefusedWithTheRange) {
    const struct {
        std::string value;
        double min, max;
        bool minExclusive;
        std::string error;  // empty: accepted
    } cases[] = {
        {"-1", 0, 3600, false, "option --seconds expects a number from 0 to 3600, got '-1'"},
        {"3600.5", 0, 3600, false, "option --seconds expects a number from 0 to 3600, got '3600.5'"},
        {"0", 0, 3600, false, ""},
        {"3600", 0, 3600, false, ""},
        {"0", 0, 600, true, "option --seconds expects a number above 0 and at most 600, got '0'"},
        {"0.01", 0, 600, true, ""},
        {"-1e6", -1e6, 1e6, false, ""},
        {"nan", 0, 1, false, "option --seconds expects a number, got 'nan'"},
        {"inf", 0, 1, false, "option --seconds expects a number, got 'inf'"},
        {"2.5", 0.5, 2.25, false, "option --seconds expects a number from 0.5 to 2.25, got '2.5'"},
        {"0x10", 0, 3600, false, "option --seconds expects a number, got '0x10'"},
        {"1e", 0, 3600, false, "option --seconds expects a number, got '1e'"},
        {".5", 0, 3600, false, ""},
        {"1\n", 0, 3600, false, "option --seconds expects a number, got '1\\n'"},
    };
    for (const auto& c : cases) {
        const Args args({"--seconds", c.value}, {"seconds"});
        EXPECT_EQ(usageErrorOf([&] { (void)args.number("seconds", 1, c.min, c.max, c.minExclusive); }),
                  c.error)
            << c.value;
    }
}

TEST(CliArgs, WholeNumbersOutsideTheirRangeAreRefusedWithTheRange) {
    const struct {
        std::string value;
        std::string error;
    } cases[] = {
        {"0", "option --fps expects a whole number from 1 to 240, got '0'"},
        {"241", "option --fps expects a whole number from 1 to 240, got '241'"},
        {"-2147483648", "option --fps expects a whole number, got '-2147483648'"},
        {"99999999999", "option --fps expects a whole number, got '99999999999'"},
        {"2.5", "option --fps expects a whole number, got '2.5'"},
        {"1", ""},
        {"240", ""},
    };
    for (const auto& c : cases) {
        const Args args({"--fps", c.value}, {"fps"});
        EXPECT_EQ(usageErrorOf([&] { (void)args.integer("fps", 30, 1, 240); }), c.error) << c.value;
    }
}

TEST(CliArgs, AnAbsentOptionGivesItsFallbackUnchecked) {
    const Args args({}, {"seconds", "fps"});
    EXPECT_EQ(args.number("seconds", 3.0, 0, 1), 3.0);
    EXPECT_EQ(args.integer("fps", 30, 1, 24), 30);
}

TEST(CliArgs, FoldersThatCannotBeMadeAreReportedWithPathAndReason) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("vantry_cli_args_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "file") << "x";

    EXPECT_NO_THROW(vantry::app::cli::createParentFolder(dir / "a" / "b" / "out.png"));
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b"));
    EXPECT_NO_THROW(vantry::app::cli::createParentFolder("bare-name.png"));

    for (const fs::path& folder : {dir / "file", dir / "file" / "below"}) {
        try {
            vantry::app::cli::createFolder(folder);
            ADD_FAILURE() << folder;
        } catch (const CommandError& e) {
            const std::string prefix = "cannot create folder '" + folder.string() + "': ";
            EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
            EXPECT_GT(std::string(e.what()).size(), prefix.size()) << e.what();
        }
    }
    fs::remove_all(dir);
}

}  // namespace
