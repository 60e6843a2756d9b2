// Sub-command registry of vantry-cli. Each command lives in its own cmd_*.cpp
// file in this folder and registers itself with a static CommandRegistrar;
// app/CMakeLists.txt lists its sources and the libraries it links.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vantry::app::cli {

struct Command {
    std::string name;     // e.g. "export"
    std::string summary;  // one line for the overview
    std::string usage;    // the full --help text
    // Receives the arguments after the command name; returns the exit code.
    std::function<int(const std::vector<std::string>& args)> run;
};

void registerCommand(Command command);
const std::vector<Command>& commands();

struct CommandRegistrar {
    explicit CommandRegistrar(Command command) { registerCommand(std::move(command)); }
};

}  // namespace vantry::app::cli
