import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Vantry.GameNative

// The co-op and raid maps sheet: the four-player co-op session with proximity voice on
// one tab, the community raid maps on the other. It observes the process-wide co-op
// manager and map store and keeps only the selected tab and the room field's text.
// Hosts handle `deployMap(map)` (every deployed map) and `dismiss()` ("Done").
Rectangle {
    id: sheet
    objectName: "coopAndUGCSheet"

    property QtObject coop: GameUi.coop
    property QtObject ugc: GameUi.ugc
    // 0 = co-op tab, 1 = raid maps tab.
    property int selectedTab: 0
    property string roomInput: "NYC-6AVE"

    signal deployMap(var map)
    signal dismiss()

    readonly property var avatars: coop ? coop.remoteAvatars : []
    readonly property bool hasDeployedMap: !!ugc && ugc.activeDeployedMapID !== null
                                           && ugc.activeDeployedMapID !== undefined

    // Where a squadmate is: inside the hospital, on the avenue or in a convoy seat.
    function locationBadge(avatar) {
        if (avatar.isIndoorsMercy) return "MERCY LOBBY"
        if (avatar.inWarthogSeat < 0) return "6TH AVE"
        return "WARTHOG SEAT " + avatar.inWarthogSeat
    }

    function deploy(map) {
        ugc.deployMapLiveByID(map.id)
        sheet.deployMap(map)
    }

    // Escape closes the sheet like "Done", from anywhere inside it.
    Keys.onEscapePressed: function(event) {
        event.accepted = true
        sheet.dismiss()
    }

    implicitWidth: 560
    implicitHeight: 620
    width: Math.max(520, implicitWidth)
    height: Math.max(460, implicitHeight)
    color: GamePalette.sheetFill
    clip: true

    // Navigation bar: the title and the "Done" button.
    Item {
        id: navBar
        width: parent.width
        height: 44
        Text {
            anchors.centerIn: parent
            text: "Grimfall Squad & Raids"
            font.pixelSize: 13
            font.weight: Font.Bold
            color: GamePalette.primary
        }
        TintButton {
            objectName: "doneButton"
            anchors.right: parent.right
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            text: "Done"
            prominent: true
            tint: GamePalette.cyan
            onClicked: sheet.dismiss()
        }
        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: 1
            color: Qt.rgba(1, 1, 1, 0.08)
        }
    }

    // The "Mode" picker.
    Row {
        id: modePicker
        objectName: "modePicker"
        anchors.top: navBar.bottom
        anchors.topMargin: 12
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 10
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: "Mode"
            font.pixelSize: 12
            color: GamePalette.secondary
        }
        Rectangle {
            width: segments.implicitWidth + 4
            height: segments.implicitHeight + 4
            radius: 7
            color: Qt.rgba(1, 1, 1, 0.08)
            Row {
                id: segments
                x: 2
                y: 2
                Repeater {
                    model: [{ tag: 0, title: "4P Co-Op & 3D Voice", name: "segmentCoop" },
                            { tag: 1, title: "Community Raid Maps", name: "segmentMaps" }]
                    // A screen reader reads the two segments as page tabs, the shown one checked;
                    // Left and Right switch between them.
                    delegate: TabButton {
                        id: segment
                        required property var modelData
                        objectName: modelData.name
                        readonly property bool selected: sheet.selectedTab === modelData.tag
                        text: modelData.title
                        checked: selected
                        padding: 0
                        focusPolicy: Qt.StrongFocus
                        Accessible.name: modelData.title
                        Keys.onReturnPressed: function(event) { event.accepted = true; segment.clicked() }
                        Keys.onEnterPressed: function(event) { event.accepted = true; segment.clicked() }
                        Keys.onLeftPressed: function(event) { event.accepted = true; sheet.selectedTab = 0 }
                        Keys.onRightPressed: function(event) { event.accepted = true; sheet.selectedTab = 1 }
                        FocusRing {
                            visible: segment.visualFocus
                            radius: 7
                        }
                        implicitWidth: segmentLabel.implicitWidth + 28
                        implicitHeight: segmentLabel.implicitHeight + 10
                        onClicked: sheet.selectedTab = modelData.tag
                        contentItem: Text {
                            id: segmentLabel
                            text: segment.modelData.title
                            font.pixelSize: 12
                            font.weight: segment.selected ? Font.DemiBold : Font.Normal
                            color: GamePalette.primary
                            horizontalAlignment: Text.AlignHCenter
                            verticalAlignment: Text.AlignVCenter
                        }
                        background: Rectangle {
                            radius: 5
                            color: segment.selected ? Qt.rgba(1, 1, 1, 0.2) : "transparent"
                        }
                    }
                }
            }
        }
    }

    Flickable {
        id: scroller
        objectName: "tabScroller"
        anchors.top: modePicker.bottom
        anchors.topMargin: 12
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        contentWidth: width
        contentHeight: (sheet.selectedTab === 0 ? coopTab.implicitHeight : mapsTab.implicitHeight) + 32
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        ScrollBar.vertical: ScrollBar {
            objectName: "tabScrollBar"
            policy: ScrollBar.AlwaysOn
            Accessible.name: sheet.selectedTab === 0 ? "Scroll the co-op squad" : "Scroll the raid maps"
        }

        // Co-op tab.
        ColumnLayout {
            id: coopTab
            objectName: "coopTab"
            visible: sheet.selectedTab === 0
            x: 20
            y: 8
            width: scroller.width - 40
            spacing: 12

            Text {
                objectName: "coopHeader"
                text: "4-PLAYER WARTHOG CONVOY · ZERO-CONFIG LAN & WI-FI"
                font.pixelSize: 11
                font.weight: Font.Black
                color: GamePalette.cyan
            }
            Text {
                objectName: "coopStatus"
                Layout.fillWidth: true
                text: sheet.coop ? sheet.coop.statusText : ""
                font.pixelSize: 12
                color: GamePalette.primary
                wrapMode: Text.Wrap
            }
            RowLayout {
                spacing: 10
                TextField {
                    id: roomField
                    objectName: "roomField"
                    Layout.preferredWidth: 160
                    Layout.maximumWidth: 160
                    placeholderText: "Room Code"
                    text: sheet.roomInput
                    onTextEdited: sheet.roomInput = text
                    color: GamePalette.primary
                    placeholderTextColor: GamePalette.secondary
                    font.pixelSize: 12
                    Accessible.name: "Room Code"
                    background: Rectangle {
                        radius: 5
                        color: GamePalette.fieldFill
                        border.width: 1
                        border.color: Qt.rgba(1, 1, 1, 0.2)
                    }
                    // Ringed whenever it holds the caret, however it was entered.
                    FocusRing {
                        visible: roomField.activeFocus
                        radius: 8
                    }
                }
                TintButton {
                    objectName: "roomButton"
                    readonly property bool active: !!sheet.coop && sheet.coop.isSessionActive
                    prominent: true
                    text: active ? "Stop Lobby" : "Host / Join Room"
                    tint: active ? GamePalette.red : GamePalette.cyan
                    onClicked: active ? sheet.coop.stopCoopLobby() : sheet.coop.startCoopLobby(sheet.roomInput)
                }
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: 6
                readonly property bool micOn: !!sheet.coop && sheet.coop.isVoiceMicEnabled
                GameSymbol {
                    objectName: "voiceSwitchSymbol"
                    symbol: parent.micOn ? "mic.fill" : "mic.slash.fill"
                    pointSize: 13
                    color: parent.micOn ? GamePalette.green : GamePalette.primary
                }
                Text {
                    Layout.fillWidth: true
                    text: "3D Spatial Proximity Voice (4:1 ADPCM)"
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                    color: GamePalette.primary
                    elide: Text.ElideRight
                }
                GameSwitch {
                    id: voiceSwitch
                    objectName: "voiceSwitch"
                    text: "3D Spatial Proximity Voice"
                    tint: GamePalette.green
                    checked: parent.micOn
                    onToggled: {
                        const wanted = checked
                        checked = Qt.binding(() => !!sheet.coop && sheet.coop.isVoiceMicEnabled)
                        sheet.coop.setVoiceMicEnabled(wanted)
                    }
                }
            }
            Text {
                Layout.fillWidth: true
                text: "Voices pan binaurally to each squadmate's 3D position on 6th Ave and muffle realistically when teammates duck inside Mercy Hospital Lobby."
                font.pixelSize: 10
                color: GamePalette.secondary
                wrapMode: Text.Wrap
            }
            RowLayout {
                Layout.fillWidth: true
                Text {
                    objectName: "squadHeader"
                    Layout.fillWidth: true
                    text: "ACTIVE SQUADMATES (" + (sheet.avatars.length + 1) + "/4)"
                    font.pixelSize: 10
                    font.weight: Font.Bold
                    color: GamePalette.orange
                }
                TintButton {
                    objectName: "botButton"
                    text: "Toggle Solo Bot Convoy"
                    pointSize: 11
                    tint: GamePalette.cyan
                    onClicked: sheet.coop.toggleSoloConvoyBotPreview()
                }
            }
            RowLayout {
                objectName: "localPlayerRow"
                spacing: 8
                GameSymbol { symbol: "person.fill.checkmark"; pointSize: 11; color: GamePalette.green }
                Text {
                    objectName: "localPlayerName"
                    readonly property var gameName: sheet.coop ? sheet.coop.gameCenterPlayerName : null
                    text: typeof gameName === "string" ? gameName : "You (Squad Leader)"
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                    color: GamePalette.primary
                }
                Badge { text: "LOCAL"; color: GamePalette.cyan }
            }
            Repeater {
                model: sheet.avatars
                delegate: RowLayout {
                    required property var modelData
                    objectName: "avatarRow_" + modelData.id
                    spacing: 8
                    GameSymbol {
                        objectName: "avatarSymbol"
                        symbol: modelData.carryingConEdCore ? "bolt.circle.fill" : "person.fill"
                        pointSize: 11
                        color: modelData.carryingConEdCore ? GamePalette.cyan : GamePalette.orange
                    }
                    Text {
                        objectName: "avatarCallsign"
                        text: modelData.callsign
                        font.pixelSize: 11
                        font.weight: Font.DemiBold
                        color: GamePalette.primary
                    }
                    Badge {
                        objectName: "locationBadge"
                        text: sheet.locationBadge(modelData)
                    }
                }
            }
        }

        // Raid maps tab.
        ColumnLayout {
            id: mapsTab
            objectName: "mapsTab"
            visible: sheet.selectedTab === 1
            x: 20
            y: 8
            width: scroller.width - 40
            spacing: 12

            RowLayout {
                Layout.fillWidth: true
                spacing: 10
                Text {
                    objectName: "mapsStatus"
                    Layout.fillWidth: true
                    text: sheet.ugc ? sheet.ugc.statusMessage : ""
                    font.pixelSize: 10
                    color: GamePalette.cyan
                    wrapMode: Text.Wrap
                }
                TintButton {
                    objectName: "clearButton"
                    visible: sheet.hasDeployedMap
                    text: "Clear"
                    pointSize: 11
                    tint: GamePalette.primary
                    onClicked: sheet.ugc.clearDeployedMap()
                }
            }
            Repeater {
                model: sheet.ugc ? sheet.ugc.maps : []
                delegate: Rectangle {
                    id: card
                    required property var modelData
                    objectName: "mapCard_" + modelData.id
                    readonly property bool active: sheet.hasDeployedMap
                                                   && sheet.ugc.activeDeployedMapID === modelData.id
                    Layout.fillWidth: true
                    implicitHeight: cardColumn.implicitHeight + 24
                    radius: 10
                    color: GamePalette.cardFill
                    ColumnLayout {
                        id: cardColumn
                        x: 12
                        y: 12
                        width: card.width - 24
                        spacing: 6
                        Text {
                            objectName: "mapTitle"
                            Layout.fillWidth: true
                            text: card.modelData.title
                            font.pixelSize: 13
                            font.weight: Font.Bold
                            color: GamePalette.primary
                            elide: Text.ElideRight
                        }
                        Text {
                            objectName: "mapCaption"
                            Layout.fillWidth: true
                            text: card.modelData.district + " · by " + card.modelData.authorCallsign + " · "
                                  + card.modelData.placements.length + " tactical props"
                            font.pixelSize: 10
                            color: GamePalette.secondary
                            wrapMode: Text.Wrap
                        }
                        RowLayout {
                            spacing: 12
                            Row {
                                objectName: "mapLikes"
                                spacing: 4
                                GameSymbol {
                                    anchors.verticalCenter: parent.verticalCenter
                                    symbol: "flame.fill"
                                    pointSize: 11
                                    color: GamePalette.orange
                                }
                                Text {
                                    objectName: "likesText"
                                    anchors.verticalCenter: parent.verticalCenter
                                    text: String(card.modelData.likes)
                                    font.pixelSize: 11
                                    color: GamePalette.primary
                                }
                            }
                            Item { Layout.fillWidth: true }
                            Row {
                                objectName: "cloudKitLabel"
                                visible: card.modelData.syncedToCloudKit
                                spacing: 4
                                GameSymbol {
                                    anchors.verticalCenter: parent.verticalCenter
                                    symbol: "icloud.fill"
                                    pointSize: 10
                                    color: GamePalette.secondary
                                }
                                Text {
                                    anchors.verticalCenter: parent.verticalCenter
                                    text: "CloudKit"
                                    font.pixelSize: 10
                                    color: GamePalette.secondary
                                }
                            }
                            TintButton {
                                objectName: "deployButton"
                                prominent: true
                                pointSize: 11
                                text: card.active ? "Active on 6th Ave ✓" : "Deploy Live on 6th Ave"
                                tint: card.active ? GamePalette.green : GamePalette.orange
                                onClicked: sheet.deploy(card.modelData)
                            }
                        }
                    }
                }
            }
        }
    }
}
