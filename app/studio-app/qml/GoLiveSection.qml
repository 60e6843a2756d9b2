import QtQuick
import QtQuick.Controls

// GO LIVE: the program feed (studio with the presenter) sent to a streaming server, and the
// Virtual Camera switch. `live` is the window's GoLiveController.
Column {
    id: section
    required property var live
    spacing: 8

    SectionTitle { text: "GO LIVE" }

    component FieldLabel: Text {
        font.pixelSize: 10
        color: Theme.white(0.55)
    }

    // A text field rings itself whenever it holds the caret, however it was entered.
    component Field: TextField {
        id: field
        // The field's name for a screen reader, kept when accessibility comes on.
        property string accessibleName
        Accessible.name: accessibleName
        Accessible.onNameChanged: if (Accessible.name !== accessibleName) Accessible.name = accessibleName
        // Qt Quick hands out no name at all for an item whose Accessible.passwordEdit is set (that
        // flag is meant for an item named by its own text), and sets it on a password field when
        // accessibility comes on. The reader still learns that the key field hides its text: the
        // field's accessible state says so from its echo mode.
        Accessible.onPasswordEditChanged: if (Accessible.passwordEdit) Accessible.passwordEdit = false
        width: section.width
        font.pixelSize: 11
        color: "white"
        // 5.1:1 against the field, over the sidebar.
        placeholderTextColor: Theme.white(0.5)
        selectByMouse: true
        leftPadding: 8
        rightPadding: 8
        topPadding: 6
        bottomPadding: 6
        enabled: !section.live.isLive
        opacity: enabled ? 1 : 0.55
        background: Rectangle {
            radius: 6
            color: Theme.white(0.06)
            border.width: 1
            border.color: Theme.white(0.1)
        }
        FocusRing {
            visible: field.activeFocus
            radius: 9
        }
    }

    // A row of choices in the look of the camera switcher; a screen reader reads them as radio
    // buttons named by `label`'s group, the chosen one checked.
    component Choices: Rectangle {
        id: choices
        property string label
        // What each choice counts, read after it ("" when its text says it all).
        property string unit
        Accessible.role: Accessible.Grouping
        Accessible.name: label
        property var model: []
        property var current
        property var titleOf: function(v) { return String(v) }
        signal picked(var value)
        width: section.width
        implicitHeight: choiceRow.implicitHeight + 6
        radius: 8
        color: Theme.white(0.05)
        enabled: !section.live.isLive
        opacity: enabled ? 1 : 0.55
        Row {
            id: choiceRow
            x: 3
            y: 3
            spacing: 3
            Repeater {
                model: choices.model
                delegate: PlainChoice {
                    id: choice
                    required property var modelData
                    readonly property bool selected: choices.current === modelData
                    objectName: "choice_" + modelData
                    Accessible.name: choices.titleOf(modelData)
                    Accessible.description: choices.unit !== "" ? choices.titleOf(modelData) + " " + choices.unit : ""
                    checked: selected
                    width: (choices.width - 6 - 3 * (choices.model.length - 1)) / choices.model.length
                    topPadding: 5
                    bottomPadding: 5
                    contentItem: Text {
                        text: choices.titleOf(choice.modelData)
                        horizontalAlignment: Text.AlignHCenter
                        font.pixelSize: 10
                        font.weight: choice.selected ? Font.DemiBold : Font.Medium
                        color: "white"
                    }
                    background: Rectangle {
                        radius: 6
                        color: choice.selected ? Theme.pinkAt(0.28) : "transparent"
                    }
                    onClicked: choices.picked(modelData)
                }
            }
        }
    }

    // One block a server: its switch, address, key and status line. The first is always shown;
    // each further one once the one before it has an address (or it has one itself).
    Repeater {
        id: servers
        model: 4
        delegate: Column {
            id: server
            required property int index
            readonly property var entry: section.live.destinations[index]
            readonly property var status: section.live.destinationStates[index]
            readonly property string suffix: index === 0 ? "" : String(index + 1)
            visible: index === 0 || entry.url !== "" || section.live.destinations[index - 1].url !== ""
            width: section.width
            spacing: 8

            Item {
                width: section.width
                height: Math.max(serverLabel.implicitHeight, serverSwitch.implicitHeight)
                FieldLabel {
                    id: serverLabel
                    anchors.verticalCenter: parent.verticalCenter
                    text: server.index === 0 ? "Server URL" : "Server " + (server.index + 1) + " URL"
                }
                // Whether Go Live sends to this server.
                PlainToggle {
                    id: serverSwitch
                    objectName: "goLiveEnabled" + server.suffix
                    readonly property bool on: server.entry.enabled
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    text: "Send to server " + (server.index + 1)
                    checked: on
                    Accessible.description: "Whether Go Live sends to this server"
                    enabled: !section.live.isLive
                    opacity: enabled ? 1 : 0.55
                    padding: 0
                    contentItem: Rectangle {
                        implicitWidth: 28
                        implicitHeight: 16
                        radius: 8
                        color: serverSwitch.on ? Theme.pink : Theme.white(0.15)
                        Rectangle {
                            x: serverSwitch.on ? parent.width - width - 2 : 2
                            y: 2
                            width: 12
                            height: 12
                            radius: 6
                            color: "white"
                        }
                    }
                    background: Item {}
                    onClicked: section.live.setDestinationEnabled(server.index, !on)
                }
            }
            Field {
                objectName: "goLiveUrl" + server.suffix
                accessibleName: server.index === 0 ? "Server URL" : "Server " + (server.index + 1) + " URL"
                // The address in clear while it is being edited; otherwise its secrets (an SRT
                // passphrase, a key in its path) show as dots, as the key does.
                readonly property string shown: activeFocus ? server.entry.url : server.entry.shownUrl
                text: shown
                placeholderText: "rtmp://live.example.com/app"
                onActiveFocusChanged: if (activeFocus) text = Qt.binding(function() { return shown })
                onEditingFinished: {
                    section.live.setDestinationUrl(server.index, text)
                    text = Qt.binding(function() { return shown })
                }
                onTextEdited: section.live.clearFailure()
            }

            FieldLabel { text: server.index === 0 ? "Stream Key" : "Server " + (server.index + 1) + " Stream Key" }
            Field {
                objectName: "goLiveKey" + server.suffix
                accessibleName: server.index === 0 ? "Stream Key" : "Server " + (server.index + 1) + " Stream Key"
                text: server.entry.streamKey
                echoMode: TextInput.Password
                placeholderText: "Stream key"
                onEditingFinished: section.live.setDestinationKey(server.index, text)
                onTextEdited: section.live.clearFailure()
            }

            // The picture this server takes: the landscape program or the vertical (9:16) one.
            FieldLabel { text: server.index === 0 ? "Picture" : "Server " + (server.index + 1) + " Picture" }
            Choices {
                objectName: "goLiveCanvas" + server.suffix
                label: server.index === 0 ? "Picture" : "Server " + (server.index + 1) + " Picture"
                model: section.live.canvasChoices
                current: server.entry.canvas
                titleOf: function(v) { return v === "vertical" ? "Vertical" : "Landscape" }
                onPicked: (v) => section.live.setDestinationCanvas(server.index, v)
            }

            // This server's own line while the stream goes to more than one.
            Text {
                objectName: "goLiveServerStatus" + server.suffix
                Accessible.role: Accessible.StatusBar
                Accessible.name: text
                visible: text !== "" && section.live.destinationStates.filter(function(d) {
                    return d.statusLine !== ""
                }).length > 1
                width: section.width
                text: server.status.statusLine
                font.pixelSize: 10
                color: server.status.state === "live" ? Theme.red
                     : server.status.state === "failed" || server.status.state === "stalled" ? Theme.orange
                     : Theme.white(0.65)
                wrapMode: Text.WordWrap
            }
        }
    }

    FieldLabel { text: "Size" }
    Choices {
        objectName: "goLiveSize"
        label: "Size"
        // The running feed keeps its size while the virtual camera takes it.
        enabled: !section.live.isLive && !section.live.virtualCameraOn
        model: section.live.sizeChoices
        current: section.live.size
        titleOf: function(v) { return v === "1920x1080" ? "1080p" : "720p" }
        onPicked: (v) => { section.live.size = v }
    }

    FieldLabel { text: "Video bit rate, Mbit/s" }
    Choices {
        objectName: "goLiveBitRate"
        label: "Video bit rate, Mbit/s"
        unit: "Mbit/s"
        model: section.live.bitRateChoices
        current: section.live.bitRate
        titleOf: function(v) { return (v / 1000000).toFixed(1) }
        onPicked: (v) => { section.live.bitRate = v }
    }

    PlainButton {
        id: liveButton
        objectName: "goLiveButton"
        text: section.live.isLive ? "End Stream" : "Go Live"
        ToolTip.visible: hovered || visualFocus
        ToolTip.delay: 600
        ToolTip.text: section.live.isLive ? "End the stream" : "Send the studio to the server above"
        Accessible.description: ToolTip.text
        width: section.width
        topPadding: 10
        bottomPadding: 10
        contentItem: Item {
            implicitHeight: liveRow.implicitHeight
            Row {
                id: liveRow
                anchors.centerIn: parent
                spacing: 5
                SymbolText {
                    anchors.verticalCenter: parent.verticalCenter
                    symbol: section.live.isLive ? "record.circle" : "sparkles.tv.fill"
                    pointSize: 12
                    color: "white"
                }
                Text {
                    objectName: "goLiveLabel"
                    anchors.verticalCenter: parent.verticalCenter
                    text: section.live.isLive ? "End Stream" : "Go Live"
                    font.pixelSize: 12
                    font.bold: true
                    color: "white"
                }
            }
        }
        background: Rectangle {
            radius: 8
            // The deep red keeps the white label at 5.4:1.
            color: section.live.isLive ? Theme.white(0.12) : Theme.liveRed
        }
        onClicked: section.live.toggleLive()
    }

    Text {
        objectName: "goLiveStatus"
        // Announced as the stream connects, goes live, retries or fails.
        Accessible.role: Accessible.StatusBar
        Accessible.name: text
        visible: text !== ""
        width: section.width
        text: section.live.statusLine
        font.pixelSize: 11
        font.bold: section.live.state === "live"
        color: section.live.state === "live" ? Theme.red
             : section.live.state === "failed" || section.live.state === "stalled" ? Theme.orange
             : Theme.white(0.65)
        wrapMode: Text.WordWrap
    }

    PlainToggle {
        id: cameraSwitch
        objectName: "virtualCameraSwitch"
        readonly property bool on: section.live.virtualCameraOn
        text: "Virtual Camera"
        checked: on
        Accessible.description: "Offers the program picture to video-call programs as a camera"
        // Without a loopback device there is nothing to switch on: drawn and kept disabled.
        enabled: section.live.virtualCameraAvailable
        opacity: enabled ? 1 : 0.45
        width: section.width
        topPadding: 6
        bottomPadding: 6
        contentItem: Item {
            implicitHeight: knobTrack.height
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: "Virtual Camera"
                font.pixelSize: 12
                font.weight: Font.DemiBold
                color: "white"
            }
            Rectangle {
                id: knobTrack
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                width: 34
                height: 20
                radius: 10
                color: cameraSwitch.on ? Theme.pink : Theme.white(0.15)
                Rectangle {
                    x: cameraSwitch.on ? parent.width - width - 2 : 2
                    y: 2
                    width: 16
                    height: 16
                    radius: 8
                    color: "white"
                }
            }
        }
        background: Item {}
        onClicked: section.live.virtualCameraOn = !section.live.virtualCameraOn
    }

    // The set-up command, selectable (and copied whole with the button) so it can be pasted
    // into a terminal.
    Column {
        visible: !section.live.virtualCameraAvailable
        width: section.width
        spacing: 4
        TextEdit {
            id: hint
            objectName: "virtualCameraHint"
            width: parent.width
            text: section.live.virtualCameraHint
            readOnly: true
            selectByMouse: true
            selectByKeyboard: true
            activeFocusOnTab: true
            textFormat: TextEdit.PlainText
            font.pixelSize: 10
            color: Theme.white(0.6)
            selectionColor: Theme.pinkAt(0.5)
            wrapMode: Text.Wrap
            Accessible.name: "Virtual camera set-up command"
            Accessible.role: Accessible.EditableText
            Accessible.readOnly: true
            Accessible.description: text
            FocusRing {
                visible: hint.activeFocus
                radius: 4
            }
        }
        PlainButton {
            objectName: "copyHintButton"
            text: "Copy"
            Accessible.description: "Copies the set-up command"
            topPadding: 3
            bottomPadding: 3
            leftPadding: 8
            rightPadding: 8
            contentItem: Text {
                text: copied.running ? "Copied" : "Copy"
                font.pixelSize: 10
                font.weight: Font.DemiBold
                color: "white"
            }
            background: Rectangle {
                radius: 6
                color: Theme.white(0.1)
            }
            onClicked: {
                hint.selectAll()
                hint.copy()
                hint.deselect()
                copied.restart()
            }
            Timer {
                id: copied
                interval: 1500
            }
        }
    }
}
