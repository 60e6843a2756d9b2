import QtQuick

// A capsule of the translucent material behind a badge's content item.
Rectangle {
    default property alias content: holder.data
    property real padH: 10
    property real padV: 6
    implicitWidth: holder.childrenRect.width + 2 * padH
    implicitHeight: holder.childrenRect.height + 2 * padV
    radius: height / 2
    color: Theme.ultraThinMaterial
    border.width: 1
    border.color: Qt.rgba(1, 1, 1, 0.06)
    Item {
        id: holder
        x: parent.padH
        y: parent.padV
        width: childrenRect.width
        height: childrenRect.height
    }
}
