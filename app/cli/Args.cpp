#include "app/cli/Args.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <system_error>

namespace vantry::app::cli {
namespace {

// A value as it shows inside one line of an error: control characters as \n, \t or \xNN.
std::string shown(const std::string& value) {
    std::string out;
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += ch;
        }
    }
    return out;
}

bool hasControlCharacter(const std::string& value) {
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

// Decimal notation only: [+-]digits[.digits][e[+-]digits] (no hexadecimal, no inf or nan, no
// spaces).
bool isDecimal(const std::string& text) {
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i - start;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return false;
    }
    return i == text.size();
}

// Options that name a file: a control character in one is never meant.
const std::set<std::string> kPathOptions{"out"};

}  // namespace

Args::Args(const std::vector<std::string>& args, std::set<std::string> valueOptions,
           std::set<std::string> flags) {
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
            const std::string& value = args[++i];
            if (kPathOptions.count(name) && hasControlCharacter(value))
                throw UsageError(
                    "option --" + name +
                    " expects a file name without control characters (line breaks, tabs, escapes), got '" +
                    shown(value) + "'");
            values_.emplace_back(name, value);
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
    if (!isDecimal(*v) || *end != '\0' || errno == ERANGE || !std::isfinite(d))
        throw UsageError("option --" + name + " expects a number, got '" + shown(*v) + "'");
    return d;
}

int Args::integer(const std::string& name, int fallback) const {
    auto v = value(name);
    if (!v) return fallback;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(v->c_str(), &end, 10);
    if (v->empty() || *end != '\0' || errno == ERANGE || n < -2147483647L || n > 2147483647L)
        throw UsageError("option --" + name + " expects a whole number, got '" + shown(*v) + "'");
    return static_cast<int>(n);
}

namespace {

// Numbers in range messages: as short as they read ("0", "0.5", "3600").
std::string shortNumber(double v) {
    std::ostringstream out;
    out.precision(15);
    out << v;
    return out.str();
}

}  // namespace

double Args::number(const std::string& name, double fallback, double min, double max,
                    bool minExclusive) const {
    if (!has(name)) return fallback;
    const double d = number(name, fallback);
    if (d < min || d > max || (minExclusive && d == min)) {
        const std::string range = minExclusive
                                      ? "above " + shortNumber(min) + " and at most " + shortNumber(max)
                                      : "from " + shortNumber(min) + " to " + shortNumber(max);
        throw UsageError("option --" + name + " expects a number " + range + ", got '" + shown(*value(name)) +
                         "'");
    }
    return d;
}

int Args::integer(const std::string& name, int fallback, int min, int max) const {
    if (!has(name)) return fallback;
    const int n = integer(name, fallback);
    if (n < min || n > max) {
        throw UsageError("option --" + name + " expects a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", got '" + shown(*value(name)) + "'");
    }
    return n;
}

double Args::seconds(const std::string& name, double fallback, int framesPerSecond, double max) const {
    // One frame, rounded up to the millisecond so that the range reads as it is meant.
    const double oneFrame = std::ceil(1000.0 / framesPerSecond) / 1000.0;
    if (!has(name)) return fallback;
    const double d = number(name, fallback);
    if (d < oneFrame || d > max) {
        throw UsageError("option --" + name + " expects a number from " + shortNumber(oneFrame) +
                         " (one frame at " + std::to_string(framesPerSecond) + " frames per second) to " +
                         shortNumber(max) + ", got '" + shown(*value(name)) + "'");
    }
    return d;
}

std::optional<bool> Args::onOff(const std::string& name) const {
    auto v = value(name);
    if (!v) return std::nullopt;
    if (*v == "on") return true;
    if (*v == "off") return false;
    throw UsageError("option --" + name + " expects on or off, got '" + shown(*v) + "'");
}

std::pair<int, int> Args::size(const std::string& name, std::pair<int, int> fallback) const {
    auto v = value(name);
    if (!v) return fallback;
    const auto x = v->find('x');
    auto bad = [&] {
        return UsageError("option --" + name + " expects WIDTHxHEIGHT, each from 1 to " +
                          std::to_string(kMaxSide) + ", got '" + shown(*v) + "'");
    };
    if (x == std::string::npos) throw bad();
    const std::string ws = v->substr(0, x), hs = v->substr(x + 1);
    char* e1 = nullptr;
    char* e2 = nullptr;
    const long w = std::strtol(ws.c_str(), &e1, 10);
    const long h = std::strtol(hs.c_str(), &e2, 10);
    const bool digitsOnly = ws.find_first_not_of("0123456789") == std::string::npos &&
                            hs.find_first_not_of("0123456789") == std::string::npos;
    if (!digitsOnly || ws.empty() || hs.empty() || *e1 || *e2 || w <= 0 || h <= 0 || w > kMaxSide ||
        h > kMaxSide)
        throw bad();
    return {static_cast<int>(w), static_cast<int>(h)};
}

void createFolder(const std::filesystem::path& folder) {
    if (folder.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!ec && !std::filesystem::is_directory(folder, ec))
        ec = std::make_error_code(std::errc::not_a_directory);
    if (ec) throw CommandError("cannot create folder '" + folder.string() + "': " + ec.message());
}

void createParentFolder(const std::filesystem::path& file) {
    createFolder(file.parent_path());
}

}  // namespace vantry::app::cli
