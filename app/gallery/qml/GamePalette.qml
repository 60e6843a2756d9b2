pragma Singleton
import QtQuick

// The game views' dark palette: the usual system colours in their dark-appearance values.
QtObject {
    readonly property color cyan: "#64d2ff"
    readonly property color orange: "#ff9f0a"
    readonly property color red: "#ff453a"
    readonly property color green: "#30d158"
    readonly property color primary: "#ffffff"
    readonly property color secondary: Qt.rgba(0.92, 0.92, 0.96, 0.6)
    readonly property color sheetFill: Qt.rgba(0.11, 0.11, 0.12, 1)
    readonly property color cardFill: Qt.rgba(1, 1, 1, 0.06)
    readonly property color fieldFill: Qt.rgba(1, 1, 1, 0.08)
    // Stand-in for the ultra-thin translucent material behind capsules.
    readonly property color ultraThinMaterial: Qt.rgba(0.16, 0.16, 0.19, 0.55)
    readonly property string monospace: "DejaVu Sans Mono"

    function withOpacity(c, opacity) { return Qt.rgba(c.r, c.g, c.b, opacity) }
}
