import QtQuick
import QtQuick.Controls
import VantryNative

// Label, "%.2f" value and a continuous pink slider. `moved(value)` fires on every
// change the user makes; the owner writes it into the view model.
Column {
    id: row
    property string label
    property real value
    property real from
    property real to
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
        stepSize: 0
        live: true
        padding: 0
        implicitHeight: 20
        onMoved: row.moved(value)
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
        }
    }
}
