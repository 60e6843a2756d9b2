import QtQuick
import QtQuick.Controls

// An on/off switch whose track takes the tint when on.
Switch {
    id: control
    property color tint: GamePalette.green
    padding: 0
    implicitWidth: 38
    implicitHeight: 22
    spacing: 0
    text: ""
    indicator: Rectangle {
        implicitWidth: 38
        implicitHeight: 22
        radius: height / 2
        color: control.checked ? control.tint : Qt.rgba(1, 1, 1, 0.18)
        Rectangle {
            x: control.checked ? parent.width - width - 2 : 2
            y: 2
            width: parent.height - 4
            height: width
            radius: width / 2
            color: "white"
            Behavior on x { NumberAnimation { duration: 120 } }
        }
    }
    contentItem: Item {}
}
