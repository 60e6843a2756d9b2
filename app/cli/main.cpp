// vantry-cli: headless access to the studio and the feature library.
#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "platform/files/SafeOutput.h"

namespace vantry::app::cli {

namespace {
std::vector<Command>& registry() {
    static std::vector<Command> r;
    return r;
}
}  // namespace

void registerCommand(Command command) {
    registry().push_back(std::move(command));
}
const std::vector<Command>& commands() {
    return registry();
}

}  // namespace vantry::app::cli

namespace {

// Qt's warnings and notes (for example "QStandardPaths: XDG_RUNTIME_DIR not set") are the
// libraries talking, not the command: only critical and fatal messages get through. Every
// command reports its own failures. VANTRY_CLI_QT_LOG=1 lets everything through.
void quietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
}

void printOverview(std::FILE* out) {
    auto cmds = vantry::app::cli::commands();
    std::sort(cmds.begin(), cmds.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    std::fprintf(out, "Usage: vantry-cli <command> [options]\n\nCommands:\n");
    for (const auto& c : cmds) std::fprintf(out, "  %-18s %s\n", c.name.c_str(), c.summary.c_str());
    std::fprintf(out, "\nRun 'vantry-cli <command> --help' for a command's options.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("VANTRY_CLI_QT_LOG") == nullptr) qInstallMessageHandler(quietQtMessages);
    if (argc < 2) {
        printOverview(stderr);
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printOverview(stdout);
        return 0;
    }
    const auto& cmds = vantry::app::cli::commands();
    const auto it = std::find_if(cmds.begin(), cmds.end(), [&](const auto& c) { return c.name == name; });
    if (it == cmds.end()) {
        std::fprintf(stderr, "vantry-cli: unknown command '%s'; see 'vantry-cli --help'\n", name.c_str());
        return 2;
    }
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (std::find(args.begin(), args.end(), "--help") != args.end() ||
        std::find(args.begin(), args.end(), "-h") != args.end()) {
        std::fprintf(stdout, "%s\n", it->usage.c_str());
        return 0;
    }
    try {
        return it->run(args);
    } catch (const vantry::app::cli::UsageError& e) {
        std::fprintf(stderr, "vantry-cli %s: %s; see 'vantry-cli %s --help'\n", name.c_str(), e.what(),
                     name.c_str());
        return 2;
    } catch (const std::filesystem::filesystem_error& e) {
        // A library's raw text ("filesystem error: ...") is not for the user: name the path and why.
        std::fprintf(stderr, "vantry-cli %s: cannot write '%s': %s\n", name.c_str(), e.path1().c_str(),
                     vantry::platform::describeOutputError(e).c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vantry-cli %s: %s\n", name.c_str(), e.what());
        return 1;
    }
}
