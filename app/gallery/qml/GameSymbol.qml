import QtQuick
import Vantry.GameNative

// A system symbol drawn from the Material Icons font, sized for text of `pointSize`.
Text {
    property string symbol
    property real pointSize: 11
    text: GameUi.icon(symbol)
    font.family: GameUi.iconFamily
    font.pixelSize: Math.round(pointSize * 1.3)
    verticalAlignment: Text.AlignVCenter
    horizontalAlignment: Text.AlignHCenter
}
