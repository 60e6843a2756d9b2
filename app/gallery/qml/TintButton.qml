import QtQuick
import QtQuick.Controls

// A rounded button in one tint: `prominent` fills it with the tint under white text,
// otherwise it is bordered (a light tinted fill under tinted text).
AbstractButton {
    id: button
    property color tint: GamePalette.cyan
    property bool prominent: false
    property real pointSize: 12
    padding: 0
    implicitWidth: label.implicitWidth + 24
    implicitHeight: label.implicitHeight + 10
    opacity: pressed ? 0.7 : 1

    // Keyboard: Tab shows a ring around the focused button; Enter presses it like Space.
    focusPolicy: Qt.StrongFocus
    Keys.onReturnPressed: function(event) { event.accepted = true; button.clicked() }
    Keys.onEnterPressed: function(event) { event.accepted = true; button.clicked() }
    Accessible.name: button.text
    FocusRing {
        visible: button.visualFocus
        radius: 9
    }
    contentItem: Text {
        id: label
        objectName: "label"
        text: button.text
        font.pixelSize: button.pointSize
        font.weight: button.prominent ? Font.DemiBold : Font.Medium
        color: button.prominent ? "white" : button.tint
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        radius: 6
        color: button.prominent ? button.tint : GamePalette.withOpacity(button.tint, 0.15)
        border.width: button.prominent ? 0 : 1
        border.color: GamePalette.withOpacity(button.tint, 0.35)
    }
}
