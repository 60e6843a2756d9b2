import QtQuick
import QtQuick.Templates as T

// An on/off switch drawn only by its label and background like PlainButton; a screen reader
// reads it as a check box, checked while `checked` (bound by the owner to the view model). A
// click does not flip `checked` itself: `clicked` asks the view model, whose answer sets it.
T.CheckBox {
    id: control
    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    readonly property real labelOpacity: control.pressed ? 0.55 : 1.0

    // Keyboard: Tab shows a ring around the focused control; Enter presses it like Space.
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
    nextCheckState: function() { return control.checkState }
    indicator: null
}
