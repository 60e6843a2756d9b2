// A small still of a program picture (the vertical feed's latest), drawn fitted into the item
// with its aspect kept. The picture is set from the main thread (bound in QML to
// GoLiveController.verticalPreview, which the feed refreshes through a queued call); painting
// reads the item's own copy while the scene graph syncs, so nothing waits on the feed.
#pragma once

#include <QImage>
#include <QQuickPaintedItem>

namespace vantry::app {

class ProgramPreviewView : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QImage picture READ picture WRITE setPicture NOTIFY pictureChanged)
    // True once a picture has been set (false again when cleared).
    Q_PROPERTY(bool hasPicture READ hasPicture NOTIFY pictureChanged)

  public:
    explicit ProgramPreviewView(QQuickItem* parent = nullptr);

    QImage picture() const { return picture_; }
    void setPicture(const QImage& picture);
    bool hasPicture() const { return !picture_.isNull(); }

    void paint(QPainter* painter) override;

  signals:
    void pictureChanged();

  private:
    QImage picture_;
};

}  // namespace vantry::app
