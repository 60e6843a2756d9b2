import QtQuick

// A thin separator line over white 0.08; vertical when `vertical` is set.
Rectangle {
    property bool vertical: false
    implicitWidth: vertical ? 1 : 0
    implicitHeight: vertical ? 0 : 1
    color: Qt.rgba(1, 1, 1, 0.08)
    Rectangle {
        anchors.fill: parent
        color: Qt.rgba(1, 1, 1, 0.1)
    }
}
