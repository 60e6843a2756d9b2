import QtQuick

// The streamer kill toast: a flame (clip bookmarked) or crosshair symbol, the callout
// and, for a bookmarked clip, a red "CLIP READY" tag, in a translucent capsule with a
// tinted border and a shadow. Empty without a callout; it enters and leaves scaling
// from 0.88 about its centre while fading.
Item {
    id: toast
    objectName: "killToast"
    // An alert a screen reader announces as a callout appears.
    Accessible.role: Accessible.AlertMessage
    Accessible.name: shown ? callout + (clipBookmarked ? " \u00b7 CLIP READY" : "") : ""
    // The callout text; null, undefined or "" shows nothing.
    property var callout
    property bool clipBookmarked: false
    readonly property bool shown: typeof callout === "string" && callout.length > 0

    // What the capsule shows; kept while it fades out so the leaving toast keeps its look.
    property string shownCallout
    property bool shownBookmarked
    readonly property alias capsule: capsule

    function latch() {
        if (typeof callout !== "string" || callout.length === 0) return
        shownCallout = callout
        shownBookmarked = clipBookmarked
    }
    onCalloutChanged: latch()
    onClipBookmarkedChanged: latch()
    Component.onCompleted: latch()

    implicitWidth: capsule.visible ? capsule.width : 0
    implicitHeight: capsule.visible ? capsule.height : 0

    Item {
        id: capsule
        objectName: "toastCapsule"
        anchors.centerIn: parent
        width: row.implicitWidth + 28
        height: row.implicitHeight + 14
        visible: opacity > 0
        opacity: toast.shown ? 1 : 0
        scale: toast.shown ? 1 : 0.88
        transformOrigin: Item.Center
        Behavior on opacity { NumberAnimation { duration: 220; easing.type: Easing.OutCubic } }
        Behavior on scale { NumberAnimation { duration: 220; easing.type: Easing.OutCubic } }

        readonly property color tint: toast.shownBookmarked ? GamePalette.orange : GamePalette.cyan

        CapsuleShadow { radius: 10; shadowOpacity: 0.5; offsetY: 4 }
        Rectangle {
            anchors.fill: parent
            radius: height / 2
            color: GamePalette.ultraThinMaterial
        }
        Rectangle {
            objectName: "toastBorder"
            anchors.fill: parent
            radius: height / 2
            color: "transparent"
            border.width: 1.2
            border.color: GamePalette.withOpacity(capsule.tint, 0.65)
        }
        Row {
            id: row
            anchors.centerIn: parent
            spacing: 8
            GameSymbol {
                objectName: "toastSymbol"
                anchors.verticalCenter: parent.verticalCenter
                symbol: toast.shownBookmarked ? "flame.fill" : "scope"
                pointSize: 13
                font.weight: Font.Black
                color: capsule.tint
            }
            Text {
                objectName: "toastCallout"
                anchors.verticalCenter: parent.verticalCenter
                text: toast.shownCallout
                font.pixelSize: 12
                font.weight: Font.Black
                font.letterSpacing: 0.8
                color: "white"
            }
            Rectangle {
                objectName: "clipReadyTag"
                anchors.verticalCenter: parent.verticalCenter
                visible: toast.shownBookmarked
                width: clipText.implicitWidth + 12
                height: clipText.implicitHeight + 4
                radius: height / 2
                color: GamePalette.withOpacity(GamePalette.red, 0.85)
                Text {
                    id: clipText
                    anchors.centerIn: parent
                    text: "CLIP READY"
                    font.family: GamePalette.monospace
                    font.pixelSize: 9
                    font.weight: Font.Black
                    color: "white"
                }
            }
        }
    }
}
