#include "app/studio-app/QuickFilePanels.h"

#include <utility>

#include "app/studio-app/PanelPaths.h"

namespace vantry::app {
namespace {

std::optional<std::filesystem::path> localFile(const QUrl& url) {
    if (url.isEmpty()) return std::nullopt;
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.toString();
    if (path.isEmpty()) return std::nullopt;
    return std::filesystem::path(path.toStdString());
}

// Answers a pending callback exactly once.
void answer(PanelAnswer& pending, std::optional<std::filesystem::path> file) {
    PanelAnswer callback = std::exchange(pending, nullptr);
    if (callback) callback(std::move(file));
}

}  // namespace

QuickFilePanels::~QuickFilePanels() {
    answer(pendingOpen_, std::nullopt);
    answer(pendingSave_, std::nullopt);
}

QStringList QuickFilePanels::nameFilters(const std::vector<PanelFileType>& types) {
    QStringList filters;
    QStringList all;
    for (const PanelFileType& type : types) {
        QStringList patterns;
        for (const std::string& ext : type.extensions)
            patterns << QStringLiteral("*.") + QString::fromStdString(ext);
        all << patterns;
        filters << QString::fromStdString(type.name) + QStringLiteral(" (") + patterns.join(' ') + ')';
    }
    if (types.size() > 1) {
        QStringList names;
        for (const PanelFileType& type : types) names << QString::fromStdString(type.name).section(' ', 0, 0);
        const QString last = names.takeLast();
        filters.prepend(names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last +
                        QStringLiteral(" (") + all.join(' ') + ')');
    }
    return filters;
}

std::filesystem::path QuickFilePanels::withAllowedExtension(const std::filesystem::path& file,
                                                            const std::vector<PanelFileType>& types) {
    return app::withAllowedExtension(file, types);
}

void QuickFilePanels::runOpenPanel(const OpenPanelRequest& request, PanelAnswer answerFn) {
    answer(pendingOpen_, std::nullopt);  // a panel still open counts as cancelled
    if (!isSignalConnected(QMetaMethod::fromSignal(&QuickFilePanels::openRequested))) {
        answerFn(std::nullopt);  // no window to show it in
        return;
    }
    pendingOpen_ = std::move(answerFn);
    emit openRequested(QString::fromStdString(request.title), nameFilters(request.allowedTypes));
}

void QuickFilePanels::runSavePanel(const SavePanelRequest& request, PanelAnswer answerFn) {
    answer(pendingSave_, std::nullopt);
    if (!isSignalConnected(QMetaMethod::fromSignal(&QuickFilePanels::saveRequested))) {
        answerFn(std::nullopt);
        return;
    }
    pendingSave_ = std::move(answerFn);
    saveTypes_ = request.allowedTypes;
    emit saveRequested(QString::fromStdString(request.title), QString::fromStdString(request.proposedName),
                       nameFilters(request.allowedTypes));
}

void QuickFilePanels::finishOpen(const QUrl& file) {
    answer(pendingOpen_, localFile(file));
}

void QuickFilePanels::finishSave(const QUrl& file) {
    auto path = localFile(file);
    if (path) path = withAllowedExtension(*path, saveTypes_);
    answer(pendingSave_, std::move(path));
}

}  // namespace vantry::app
