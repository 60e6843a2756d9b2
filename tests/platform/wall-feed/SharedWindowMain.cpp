// A window of one colour with the title given as the first argument, for the screen share
// tests to list and share; it runs until it is killed.
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>

namespace {

class ColourWindow : public QRasterWindow {
  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(QRect(0, 0, width(), height()), QColor(32, 192, 64));
    }
};

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ColourWindow window;
    window.setTitle(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("Shared window"));
    window.setGeometry(100, 100, 480, 360);
    window.show();
    return app.exec();
}
