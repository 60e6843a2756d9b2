import QtQuick

// The lobby's compact voice bar: the room code, the 3D voice switch and one activity
// dot per speaker, in a translucent capsule. Redraws on every change of `lobby`.
Rectangle {
    id: bar
    objectName: "voiceBar"
    // The observed OruFriendslopLobbyControllerV1020.
    property QtObject lobby
    readonly property bool voiceOn: lobby ? lobby.isProximityVoiceEnabled : false

    implicitWidth: row.implicitWidth + 20
    implicitHeight: row.implicitHeight + 12
    radius: height / 2
    color: GamePalette.ultraThinMaterial
    border.width: 1
    border.color: Qt.rgba(1, 1, 1, 0.18)

    Row {
        id: row
        x: 10
        anchors.verticalCenter: parent.verticalCenter
        spacing: 8

        Rectangle {
            objectName: "roomCodeCapsule"
            anchors.verticalCenter: parent.verticalCenter
            width: roomCodeText.implicitWidth + 16
            height: roomCodeText.implicitHeight + 8
            radius: height / 2
            color: GamePalette.withOpacity(GamePalette.cyan, 0.16)
            Text {
                id: roomCodeText
                objectName: "roomCodeText"
                anchors.centerIn: parent
                text: bar.lobby ? bar.lobby.roomCode : ""
                font.family: GamePalette.monospace
                font.pixelSize: 11
                font.weight: Font.Black
                color: GamePalette.cyan
            }
        }

        // Read as a check box: "3D Voice", checked while proximity voice is on.
        SymbolToggle {
            id: voiceButton
            objectName: "voiceButton"
            accessibleName: "3D Voice"
            checked: bar.voiceOn
            anchors.verticalCenter: parent.verticalCenter
            symbol: bar.voiceOn ? "waveform.circle.fill" : "speaker.slash.fill"
            label: bar.voiceOn ? "3D Voice" : "Voice Off"
            tint: bar.voiceOn ? GamePalette.green : GamePalette.secondary
            pointSize: 11
            onClicked: if (bar.lobby) bar.lobby.isProximityVoiceEnabled = !bar.lobby.isProximityVoiceEnabled
        }

        Row {
            objectName: "speakerDots"
            anchors.verticalCenter: parent.verticalCenter
            spacing: 5
            Repeater {
                model: bar.lobby ? bar.lobby.speakers : []
                delegate: Item {
                    id: dot
                    required property var modelData
                    objectName: "speakerDot_" + modelData.id
                    // "speaking", "muted" or "idle".
                    readonly property string state_: modelData.voiceActivityLevel > 0.2 && !modelData.isMuted
                                                     && bar.voiceOn ? "speaking"
                                                                    : modelData.isMuted ? "muted" : "idle"
                    readonly property alias fill: fillCircle
                    readonly property alias ring: ringCircle
                    width: 9
                    height: 9
                    Rectangle {
                        id: fillCircle
                        anchors.fill: parent
                        radius: width / 2
                        color: dot.state_ === "speaking" ? GamePalette.green
                             : dot.state_ === "muted" ? GamePalette.withOpacity(GamePalette.red, 0.6)
                             : Qt.rgba(1, 1, 1, 0.25)
                    }
                    Rectangle {
                        id: ringCircle
                        anchors.fill: parent
                        radius: width / 2
                        color: "transparent"
                        border.width: 2
                        border.color: GamePalette.green
                        opacity: dot.state_ === "speaking" ? 0.9 : 0
                        scale: dot.state_ === "speaking" ? 1.55 : 1.0
                    }
                }
            }
        }
    }
}
