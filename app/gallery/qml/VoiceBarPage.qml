import QtQuick
import Vantry.GameNative

// The gallery page of the lobby's voice bar, animated by a running chatter clock.
Rectangle {
    id: page
    objectName: "voiceBarPage"
    property string prefix: "GRIM"
    property QtObject lobby: GameUi.createLobby(prefix, "You")
    property real startedAt: Date.now()
    color: Qt.rgba(0.05, 0.055, 0.075, 1)

    Timer {
        interval: 33
        repeat: true
        running: page.visible && !!page.lobby
        triggeredOnStart: true
        onTriggered: page.lobby.pulseSimulatedChatter((Date.now() - page.startedAt) / 1000)
    }

    Column {
        anchors.centerIn: parent
        spacing: 16
        OruFriendslopVoiceBarV1020 {
            anchors.horizontalCenter: parent.horizontalCenter
            lobby: page.lobby
        }
        Text {
            objectName: "connectionBanner"
            anchors.horizontalCenter: parent.horizontalCenter
            text: page.lobby ? page.lobby.connectionBanner : ""
            font.pixelSize: 12
            color: GamePalette.secondary
        }
        TintButton {
            objectName: "newRoomButton"
            anchors.horizontalCenter: parent.horizontalCenter
            text: "New Room Code"
            onClicked: page.lobby.regenerateRoomCode(page.prefix)
        }
    }
}
