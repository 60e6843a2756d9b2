// The kinds of change of the LED wall's picture, in an order where each one shows: live
// pictures (video pictures, shared screens) of another size than the wall's and of the same
// size, one in a format the wall converts, a picture file and the built-in wall again. Each
// change is applied alike to every engine given, so an engine drawing frame upon frame can be
// held against one that draws each frame in full.
#pragma once

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QString>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "studio/gpu/VantryMetalEngine.h"

namespace vantry::testing {

// A picture with detail everywhere (a gradient, a block and stripes, placed by `seed`), so
// that any pixel of the wall shows which picture it is.
inline QImage detailedWallPicture(int width, int height, int seed,
                                  QImage::Format format = QImage::Format_ARGB32_Premultiplied) {
    QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&picture);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, QColor::fromHsv((seed * 67) % 360, 200, 230));
    gradient.setColorAt(1, QColor::fromHsv((seed * 67 + 150) % 360, 180, 90));
    painter.fillRect(picture.rect(), gradient);
    painter.fillRect(QRect(width * (seed % 4) / 5, height / 4, width / 5, height / 2),
                     QColor::fromHsv((seed * 41) % 360, 255, 255));
    for (int x = seed % 7; x < width; x += 9) painter.fillRect(QRect(x, 0, 2, height / 6), Qt::white);
    painter.end();
    return format == picture.format() ? picture : picture.convertToFormat(format);
}

struct WallChange {
    std::string what;
    std::function<void(VantryMetalEngine&)> apply;
};

// The changes in order. The picture file lives in a folder of its own, which lasts as long as
// the changes do: tests running at once in one working folder never read each other's file
// half written.
inline std::vector<WallChange> wallChanges() {
    const auto folder = std::make_shared<QTemporaryDir>();
    const std::filesystem::path file =
        std::filesystem::path(folder->path().toStdString()) / "wall_change_picture.png";
    detailedWallPicture(200, 120, 5).save(QString::fromStdString(file.string()));
    const auto show = [](QImage picture, const char* name) {
        return [picture, name](VantryMetalEngine& e) { e.showLEDWallPicture(picture, name); };
    };
    return {
        {"a live picture of another size", show(detailedWallPicture(1280, 720, 1), "Video")},
        {"a new live picture of the same size", show(detailedWallPicture(1280, 720, 2), "Video")},
        {"another new live picture of the same size", show(detailedWallPicture(1280, 720, 3), "Video")},
        {"a live picture without alpha",
         show(detailedWallPicture(1280, 720, 4, QImage::Format_RGB32), "Screen")},
        {"a live picture the wall converts",
         show(detailedWallPicture(800, 600, 6, QImage::Format_ARGB32), "Screen")},
        {"a picture file", [folder, file](VantryMetalEngine& e) { e.loadLEDWallImage(file); }},
        {"the built-in wall back", [](VantryMetalEngine& e) { e.showBuiltInWall(); }},
    };
}

inline void applyToAll(const WallChange& change, std::initializer_list<VantryMetalEngine*> engines) {
    for (VantryMetalEngine* e : engines) change.apply(*e);
}

}  // namespace vantry::testing
