import QtQuick

// "REMOTE CONTROL": the switch of the studio's remote-control server, where it listens (or why it
// does not) and, once, the secret it has just made, with a copy button.
Column {
    id: section
    // The app's RemoteControl; without one (screenshots, tests) the section is not shown.
    property QtObject remote: null
    readonly property bool on: remote !== null && remote.on
    visible: remote !== null
    spacing: 8

    Divider { width: parent.width }

    SectionTitle { text: "REMOTE CONTROL" }

    PlainToggle {
        id: remoteSwitch
        objectName: "remoteSwitch"
        width: parent.width
        topPadding: 8
        bottomPadding: 8
        checked: section.on
        Accessible.name: "Remote Control"
        Accessible.description: "Lets remote clients control the studio"
        contentItem: Text {
            text: section.on ? "Remote Control: On" : "Remote Control: Off"
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: 11
            font.weight: Font.DemiBold
            color: "white"
        }
        background: Rectangle {
            radius: 8
            color: section.on ? Theme.pinkAt(0.32) : Theme.white(0.07)
            border.width: 1
            border.color: section.on ? Theme.pinkAt(0.55) : Theme.white(0.1)
        }
        onClicked: section.remote.on = !section.remote.on
    }

    Text {
        objectName: "remoteStatus"
        Accessible.role: Accessible.StatusBar
        Accessible.name: text
        width: parent.width
        visible: text !== ""
        text: section.remote ? section.remote.statusLine : ""
        font.pixelSize: 10
        color: Theme.white(0.6)
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
    }

    // The secret is shown this once: clients need it, and it is not shown again.
    Column {
        objectName: "remoteSecret"
        width: parent.width
        spacing: 6
        visible: section.remote !== null && section.remote.shownSecret !== ""

        Text {
            width: parent.width
            text: "Secret for remote clients (shown once):"
            font.pixelSize: 10
            color: Theme.white(0.6)
            wrapMode: Text.WordWrap
        }
        TextEdit {
            objectName: "remoteSecretText"
            Accessible.name: "Secret for remote clients"
            Accessible.role: Accessible.EditableText
            Accessible.readOnly: true
            width: parent.width
            readOnly: true
            selectByMouse: true
            text: section.remote ? section.remote.shownSecret : ""
            font.family: "monospace"
            font.pixelSize: 10
            color: "white"
            wrapMode: TextEdit.WrapAnywhere
        }
        Row {
            spacing: 6
            Repeater {
                model: [{ label: "Copy", copy: true }, { label: "Done", copy: false }]
                delegate: PlainButton {
                    required property var modelData
                    objectName: "remoteSecret" + modelData.label
                    text: modelData.label
                    leftPadding: 12
                    rightPadding: 12
                    topPadding: 5
                    bottomPadding: 5
                    contentItem: Text {
                        text: modelData.label
                        font.pixelSize: 11
                        font.weight: Font.DemiBold
                        color: "white"
                    }
                    background: Rectangle { radius: 6; color: Theme.white(0.1) }
                    onClicked: modelData.copy ? section.remote.copySecret() : section.remote.hideSecret()
                }
            }
        }
    }
}
