import QtQuick
import QtQuick.Controls

// A plain-style button: a symbol and a label side by side in one tint, no background.
AbstractButton {
    id: button
    property string symbol
    property string label
    property color tint: GamePalette.primary
    property real pointSize: 11
    property int weight: Font.Bold
    implicitWidth: content.implicitWidth
    implicitHeight: content.implicitHeight
    opacity: pressed ? 0.6 : 1

    // Keyboard: Tab shows a ring around the focused button; Enter presses it like Space.
    focusPolicy: Qt.StrongFocus
    Keys.onReturnPressed: function(event) { event.accepted = true; button.clicked() }
    Keys.onEnterPressed: function(event) { event.accepted = true; button.clicked() }
    Accessible.name: button.label !== "" ? button.label : button.symbol
    FocusRing {
        visible: button.visualFocus
        radius: 6
    }
    contentItem: Row {
        id: content
        spacing: 4
        GameSymbol {
            anchors.verticalCenter: parent.verticalCenter
            symbol: button.symbol
            pointSize: button.pointSize
            color: button.tint
        }
        Text {
            objectName: "label"
            anchors.verticalCenter: parent.verticalCenter
            text: button.label
            font.pixelSize: button.pointSize
            font.weight: button.weight
            color: button.tint
        }
    }
    background: null
}
