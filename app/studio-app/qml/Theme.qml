pragma Singleton
import QtQuick

// The studio's dark palette. Pink, cyan, orange and red are the usual system
// colours in their dark-appearance values.
QtObject {
    readonly property color pink: "#ff375f"
    readonly property color cyan: "#64d2ff"
    readonly property color orange: "#ff9f0a"
    readonly property color red: "#ff453a"
    // A deeper red behind white text (5.4:1).
    readonly property color liveRed: "#d70015"
    readonly property color windowFill: Qt.rgba(0.045, 0.05, 0.072, 1)
    readonly property color headerFill: Qt.rgba(0.06, 0.065, 0.095, 1)
    readonly property color sidebarFill: Qt.rgba(0.055, 0.06, 0.085, 1)
    // Stand-in for the ultra-thin translucent material behind the badges over the
    // picture. Dark and dense enough that the pink frame-rate text keeps a contrast
    // of 4.5:1 even over a white picture, still letting the set show through.
    readonly property color ultraThinMaterial: Qt.rgba(0.02, 0.02, 0.03, 0.9)

    function white(opacity) { return Qt.rgba(1, 1, 1, opacity) }
    function black(opacity) { return Qt.rgba(0, 0, 0, opacity) }
    function pinkAt(opacity) { return Qt.rgba(pink.r, pink.g, pink.b, opacity) }
}
