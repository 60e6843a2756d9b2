import QtQuick

// A soft shadow under a capsule of the parent's size: stacked translucent capsules that
// widen to `radius` and fade out, offset by (offsetX, offsetY). Drawn with plain
// rectangles so every scene-graph backend shows it.
Item {
    id: shadow
    property real radius: 10
    property real shadowOpacity: 0.5
    property real offsetX: 0
    property real offsetY: 4
    readonly property int steps: 5
    anchors.fill: parent
    Repeater {
        model: shadow.steps
        Rectangle {
            required property int index
            readonly property real spread: shadow.radius * (index + 1) / shadow.steps
            x: shadow.offsetX - spread
            y: shadow.offsetY - spread
            width: shadow.width + 2 * spread
            height: shadow.height + 2 * spread
            radius: height / 2
            color: Qt.rgba(0, 0, 0, shadow.shadowOpacity / shadow.steps)
        }
    }
}
