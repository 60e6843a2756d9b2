// The open and save panels of the studio's file flows, behind an interface so
// tests answer them without a person. The window implements it with QML file
// dialogs (QuickFilePanels).
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantry::app {

// One kind of file a panel offers: a readable name and its extensions (no dot).
struct PanelFileType {
    std::string name;
    std::vector<std::string> extensions;
};

struct OpenPanelRequest {
    std::string title;
    std::vector<PanelFileType> allowedTypes;  // in the order offered
};

struct SavePanelRequest {
    std::string title;
    std::string proposedName;
    std::vector<PanelFileType> allowedTypes;
};

// The chosen file, or nothing when the panel was cancelled.
using PanelAnswer = std::function<void(std::optional<std::filesystem::path>)>;

class FilePanels {
  public:
    virtual ~FilePanels() = default;
    // Shows the panel; answer is called once, on the main thread, when it closes.
    virtual void runOpenPanel(const OpenPanelRequest& request, PanelAnswer answer) = 0;
    virtual void runSavePanel(const SavePanelRequest& request, PanelAnswer answer) = 0;
};

}  // namespace vantry::app
