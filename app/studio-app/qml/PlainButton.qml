import QtQuick
import QtQuick.Controls

// A button drawn only by its label and background; the label dims while the
// button is held down.
AbstractButton {
    id: control
    readonly property real labelOpacity: control.pressed ? 0.55 : 1.0

    // Keyboard: Tab shows a ring around the focused button; Enter presses it like Space.
    focusPolicy: Qt.StrongFocus
    Keys.onReturnPressed: function(event) { event.accepted = true; control.clicked() }
    Keys.onEnterPressed: function(event) { event.accepted = true; control.clicked() }
    Accessible.name: control.text
    FocusRing {
        visible: control.visualFocus
        radius: 9
    }
    Binding {
        target: control.contentItem
        property: "opacity"
        value: control.labelOpacity
        when: control.contentItem !== null
    }
}
