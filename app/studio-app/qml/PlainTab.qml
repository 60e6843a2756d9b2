import QtQuick
import QtQuick.Templates as T

// One tab of a switcher (the camera angles), drawn only by its label and background like
// PlainButton; a screen reader reads it as a page tab, checked while `checked` (bound by the
// owner to the view model's choice).
T.TabButton {
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

    // The arrow keys move to the choice before or after this one in its row and choose it.
    readonly property bool isChoice: true
    function chooseNeighbour(step) {
        const row = control.parent ? control.parent.children : []
        const choices = []
        for (let i = 0; i < row.length; ++i)
            if (row[i].isChoice === true && row[i].visible && row[i].enabled) choices.push(row[i])
        const at = choices.indexOf(control)
        const next = choices[at + step]
        if (at < 0 || !next) return
        next.forceActiveFocus(Qt.TabFocusReason)
        next.clicked()
    }
    Keys.onLeftPressed: function(event) { event.accepted = true; control.chooseNeighbour(-1) }
    Keys.onUpPressed: function(event) { event.accepted = true; control.chooseNeighbour(-1) }
    Keys.onRightPressed: function(event) { event.accepted = true; control.chooseNeighbour(1) }
    Keys.onDownPressed: function(event) { event.accepted = true; control.chooseNeighbour(1) }
}
