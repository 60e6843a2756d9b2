import QtQuick
import VantryNative

// A symbol image drawn from the Material Icons font; `pointSize` is the size of
// the text font the symbol sits in.
Text {
    property string symbol
    property real pointSize: 11
    text: StudioUi.icon(symbol)
    font.family: StudioUi.iconFamily
    font.pixelSize: Math.round(pointSize * 1.3)
    verticalAlignment: Text.AlignVCenter
    horizontalAlignment: Text.AlignHCenter
}
