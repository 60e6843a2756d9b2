import QtQuick

// The keyboard focus ring every control of the studio window, the presenter overlay and the
// gallery draws: a 2-pixel cyan outline `gap` pixels outside its parent, over the parent's
// content. The control decides when it shows — `visualFocus` for buttons, sliders and switches
// (focus reached by the keyboard), `activeFocus` for text fields, whose caret is there however
// they were entered — and how round it is.
//
// One file, listed in each view module's resources, so the three modules draw the same ring.
Rectangle {
    property real gap: 3
    objectName: "focusRing"
    anchors.fill: parent
    anchors.margins: -gap
    color: "transparent"
    border.width: 2
    border.color: "#64d2ff"
    z: 10
}
