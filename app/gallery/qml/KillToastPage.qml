import QtQuick

// The gallery page of the kill toast, with buttons that show and hide it.
Rectangle {
    id: page
    objectName: "killToastPage"
    property var callout: "TRIPLE KILL"
    property bool clipBookmarked: true
    color: Qt.rgba(0.05, 0.055, 0.075, 1)

    OruStreamerViralKillToastV1250 {
        id: toast
        anchors.horizontalCenter: parent.horizontalCenter
        y: parent.height * 0.3
        callout: page.callout
        clipBookmarked: page.clipBookmarked
    }

    Row {
        anchors.horizontalCenter: parent.horizontalCenter
        y: parent.height * 0.6
        spacing: 12
        TintButton {
            objectName: "showClipButton"
            text: "TRIPLE KILL · Clip"
            tint: GamePalette.orange
            onClicked: { page.clipBookmarked = true; page.callout = "TRIPLE KILL" }
        }
        TintButton {
            objectName: "showPlainButton"
            text: "TRIPLE KILL"
            tint: GamePalette.cyan
            onClicked: { page.clipBookmarked = false; page.callout = "TRIPLE KILL" }
        }
        TintButton {
            objectName: "hideButton"
            text: "Hide"
            tint: GamePalette.primary
            onClicked: page.callout = null
        }
    }
}
