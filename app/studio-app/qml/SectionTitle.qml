import QtQuick

Text {
    font.pixelSize: 10
    font.bold: true
    color: Theme.white(0.5)
}
