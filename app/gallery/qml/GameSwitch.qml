import QtQuick
import QtQuick.Controls

// An on/off switch whose track takes the tint when on. `text` is not drawn (the row beside the
// switch says what it does) but names it to assistive technology.
// Keyboard: Tab rings the track; Space or Enter toggles it, as a click does.
Switch {
    id: control
    property color tint: GamePalette.green
    padding: 0
    implicitWidth: 38
    implicitHeight: 22
    spacing: 0
    focusPolicy: Qt.StrongFocus
    Accessible.name: control.text
    // Space is the switch's own; Enter toggles it the same way, `toggled` included.
    Keys.onReturnPressed: function(event) { event.accepted = true; control.toggle(); control.toggled() }
    Keys.onEnterPressed: function(event) { event.accepted = true; control.toggle(); control.toggled() }
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
        FocusRing {
            visible: control.visualFocus
            radius: height / 2
        }
    }
    contentItem: Item {}
}
