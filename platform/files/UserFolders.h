// The user's standard folders, answered from the XDG variables and user-dirs.dirs with the
// usual fallbacks. Nothing here creates a folder.
#pragma once

#include <filesystem>

namespace vantry::platform {

struct UserFolders {
    UserFolders() = delete;

    // $HOME, else the password database's home, else the temporary folder.
    static std::filesystem::path home();

    // $XDG_DATA_HOME when it is an absolute path, else <home>/.local/share.
    static std::filesystem::path dataHome();

    // $XDG_CONFIG_HOME when it is an absolute path, else <home>/.config.
    static std::filesystem::path configHome();

    // XDG_VIDEOS_DIR from <config home>/user-dirs.dirs, else from the environment, else
    // <home>/Videos. A relative value counts as unset; "$HOME/..." is expanded.
    static std::filesystem::path videos();
};

}  // namespace vantry::platform
