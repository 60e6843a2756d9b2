import QtQuick

// A bold small-caption badge text.
Text {
    font.pixelSize: 10
    font.weight: Font.Bold
    color: GamePalette.secondary
}
