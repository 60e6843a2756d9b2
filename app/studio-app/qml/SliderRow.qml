import QtQuick
import QtQuick.Controls
import VantryNative

// Label, "%.2f" value and a continuous pink slider. `moved(value)` fires on every
// change the user makes; the owner writes it into the view model.
// Keyboard: Tab rings the handle; the arrow keys step a twentieth of the range (Right and Up
// raise the value), Page Up/Down a fifth, Home and End go to the ends.
Column {
    id: row
    property string label
    // The slider's name for a screen reader where the label alone repeats (one gain per source).
    property string accessibleName: label
    property real value
    property real from
    property real to
    // What the shown value counts, spoken after it ("" for a plain gain).
    property string unit
    signal moved(real value)
    spacing: 4

    Item {
        width: row.width
        height: Math.max(labelText.implicitHeight, valueText.implicitHeight)
        Text {
            id: labelText
            objectName: "label"
            text: row.label
            font.pixelSize: 11
            color: Theme.white(0.78)
        }
        Text {
            id: valueText
            objectName: "valueText"
            anchors.right: parent.right
            text: StudioUi.gainText(row.value)
            font.pixelSize: 11
            color: Theme.white(0.55)
        }
    }

    Slider {
        id: slider
        objectName: "slider"
        width: row.width
        from: row.from
        to: row.to
        value: row.value
        // The arrow keys' step; a drag stays continuous (no snapping).
        stepSize: (row.to - row.from) / 20
        live: true
        padding: 0
        implicitHeight: 20
        focusPolicy: Qt.StrongFocus
        Accessible.name: row.accessibleName
        // The value as the row shows it.
        Accessible.description: valueText.text + (row.unit !== "" ? " " + row.unit : "")
        onMoved: row.moved(value)
        // The slider itself steps on Left and Right; Up, Down and the larger moves are added here.
        Keys.onPressed: function(event) {
            const page = (slider.to - slider.from) / 5
            let wanted
            switch (event.key) {
            case Qt.Key_Up: wanted = slider.value + slider.stepSize; break
            case Qt.Key_Down: wanted = slider.value - slider.stepSize; break
            case Qt.Key_PageUp: wanted = slider.value + page; break
            case Qt.Key_PageDown: wanted = slider.value - page; break
            case Qt.Key_Home: wanted = slider.from; break
            case Qt.Key_End: wanted = slider.to; break
            default: return
            }
            event.accepted = true
            wanted = Math.max(slider.from, Math.min(slider.to, wanted))
            if (wanted !== slider.value)
                row.moved(wanted)
        }
        background: Rectangle {
            x: slider.leftPadding
            y: slider.topPadding + slider.availableHeight / 2 - height / 2
            width: slider.availableWidth
            height: 4
            radius: 2
            color: Theme.white(0.14)
            Rectangle {
                width: slider.visualPosition * parent.width
                height: parent.height
                radius: 2
                color: Theme.pink
            }
        }
        handle: Rectangle {
            x: slider.leftPadding + slider.visualPosition * (slider.availableWidth - width)
            y: slider.topPadding + slider.availableHeight / 2 - height / 2
            width: 16
            height: 16
            radius: 8
            color: slider.pressed ? "#e8e8ec" : "white"
            border.color: Qt.rgba(0, 0, 0, 0.25)
            FocusRing {
                visible: slider.visualFocus
                radius: width / 2
            }
        }
    }
}
