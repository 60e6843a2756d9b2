// A window whose colour and a bar move every frame, for recordings that need something on a
// screen; it runs until it is stopped.
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>

namespace {

class MovingWindow : public QRasterWindow {
  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(QRect(0, 0, width(), height()), QColor::fromHsv((tick_ * 7) % 360, 200, 220));
        p.fillRect((tick_ * 13) % std::max(width(), 1), 0, 60, height(), Qt::white);
        ++tick_;
    }

  private:
    int tick_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    MovingWindow window;
    window.resize(640, 480);
    window.show();
    QTimer animate;
    QObject::connect(&animate, &QTimer::timeout, &window, [&] { window.update(); });
    animate.start(33);
    return app.exec();
}
