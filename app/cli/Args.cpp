#include "app/cli/Args.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace vantry::cli {

Args::Args(const std::vector<std::string>& args, std::set<std::string> valueOptions, std::set<std::string> flags) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            help_ = true;
            continue;
        }
        if (a.rfind("--", 0) != 0 || a.size() == 2) {
            positional_.push_back(a);
            continue;
        }
        const std::string name = a.substr(2);
        if (has(name)) throw UsageError("option --" + name + " given more than once");
        if (flags.count(name)) {
            flags_.insert(name);
        } else if (valueOptions.count(name)) {
            if (i + 1 >= args.size()) throw UsageError("option --" + name + " needs a value");
            values_.emplace_back(name, args[++i]);
        } else {
            throw UsageError("unknown option --" + name);
        }
    }
}

bool Args::has(const std::string& name) const {
    if (flags_.count(name)) return true;
    for (const auto& [k, v] : values_)
        if (k == name) return true;
    return false;
}

std::optional<std::string> Args::value(const std::string& name) const {
    for (const auto& [k, v] : values_)
        if (k == name) return v;
    return std::nullopt;
}

std::string Args::required(const std::string& name) const {
    auto v = value(name);
    if (!v) throw UsageError("missing required option --" + name);
    return *v;
}

double Args::number(const std::string& name, double fallback) const {
    auto v = value(name);
    if (!v) return fallback;
    char* end = nullptr;
    errno = 0;
    const double d = std::strtod(v->c_str(), &end);
    if (v->empty() || *end != '\0' || errno == ERANGE || !std::isfinite(d))
        throw UsageError("option --" + name + " expects a number, got '" + *v + "'");
    return d;
}

int Args::integer(const std::string& name, int fallback) const {
    auto v = value(name);
    if (!v) return fallback;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(v->c_str(), &end, 10);
    if (v->empty() || *end != '\0' || errno == ERANGE || n < -2147483647L || n > 2147483647L)
        throw UsageError("option --" + name + " expects a whole number, got '" + *v + "'");
    return static_cast<int>(n);
}

std::pair<int, int> Args::size(const std::string& name, std::pair<int, int> fallback) const {
    auto v = value(name);
    if (!v) return fallback;
    const auto x = v->find('x');
    auto bad = [&] { return UsageError("option --" + name + " expects WIDTHxHEIGHT, got '" + *v + "'"); };
    if (x == std::string::npos) throw bad();
    const std::string ws = v->substr(0, x), hs = v->substr(x + 1);
    char* e1 = nullptr;
    char* e2 = nullptr;
    const long w = std::strtol(ws.c_str(), &e1, 10);
    const long h = std::strtol(hs.c_str(), &e2, 10);
    if (ws.empty() || hs.empty() || *e1 || *e2 || w <= 0 || h <= 0 || w > 16384 || h > 16384) throw bad();
    return {static_cast<int>(w), static_cast<int>(h)};
}

}  // namespace vantry::cli
