import QtQuick
import QtQuick.Controls

// A button drawn only by its label and background; the label dims while the
// button is held down.
AbstractButton {
    id: control
    readonly property real labelOpacity: control.pressed ? 0.55 : 1.0
    Binding {
        target: control.contentItem
        property: "opacity"
        value: control.labelOpacity
        when: control.contentItem !== null
    }
}
