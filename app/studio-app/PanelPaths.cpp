#include "app/studio-app/PanelPaths.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace vantry::app {

std::filesystem::path resolveTypedPath(const std::filesystem::path& folder, std::string_view typed,
                                       const std::filesystem::path& home) {
    const auto first = typed.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = typed.find_last_not_of(" \t\r\n");
    const std::string name(typed.substr(first, last - first + 1));
    std::filesystem::path result;
    if (name == "~") {
        result = home;
    } else if (name.rfind("~/", 0) == 0) {
        result = home / name.substr(2);
    } else if (std::filesystem::path(name).is_absolute()) {
        result = name;
    } else {
        result = folder / name;
    }
    return result.lexically_normal();
}

std::filesystem::path withAllowedExtension(const std::filesystem::path& file,
                                           const std::vector<PanelFileType>& types) {
    if (file.empty() || types.empty() || types.front().extensions.empty()) return file;
    std::string ext = file.extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    for (const PanelFileType& type : types) {
        for (const std::string& allowed : type.extensions) {
            if (ext == allowed) return file;
        }
    }
    std::filesystem::path fixed = file;
    fixed += "." + types.front().extensions.front();
    return fixed;
}

}  // namespace vantry::app
