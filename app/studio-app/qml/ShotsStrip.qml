import QtQuick
import QtQuick.Controls

// The shots deck: up to nine saved pictures on the keys 1-9, a button that saves the current
// picture as a shot, and the tools for the chosen shot (name, order, cut or move, delete).
// Keys 1-9 recall shot N anywhere in the window while no text field has the keyboard (a text
// field takes the digits as text first).
Column {
    id: strip
    required property var vm
    readonly property var shots: vm.shots
    // The shot the tools below work on (-1: none).
    property int current: -1
    readonly property bool hasCurrent: current >= 0 && current < shots.count
    // Counts changes of the list, so the chosen shot's fields are read again.
    property int revision: 0
    readonly property var currentShot: revision >= 0 && hasCurrent ? shots.shotJson(current) : null
    spacing: 8

    component Tool: PlainButton {
        id: tool
        leftPadding: 6
        rightPadding: 6
        topPadding: 5
        bottomPadding: 5
        contentItem: Text {
            text: tool.text
            font.pixelSize: 11
            color: "white"
            opacity: tool.enabled ? 1 : 0.4
        }
        background: Rectangle {
            radius: 6
            color: tool.checked ? Theme.pinkAt(0.28) : Theme.white(0.06)
        }
    }

    // A tool that is one of a choice (the shot's transition): read as a radio button.
    component ToolChoice: PlainChoice {
        id: choiceTool
        leftPadding: 6
        rightPadding: 6
        topPadding: 5
        bottomPadding: 5
        contentItem: Text {
            text: choiceTool.text
            font.pixelSize: 11
            color: "white"
            opacity: choiceTool.enabled ? 1 : 0.4
        }
        background: Rectangle {
            radius: 6
            color: choiceTool.checked ? Theme.pinkAt(0.28) : Theme.white(0.06)
        }
    }

    function recallKey(key) {
        if (strip.shots.recallKey(key)) strip.current = key - 1
    }
    function moveCurrent(step) {
        const to = strip.current + step
        if (strip.shots.moveShot(strip.current, to)) strip.current = to
    }

    Connections {
        target: strip.shots
        function onShotsChanged() {
            if (strip.current >= strip.shots.count) strip.current = strip.shots.count - 1
            ++strip.revision
        }
    }

    Shortcut { sequence: "1"; onActivated: strip.recallKey(1) }
    Shortcut { sequence: "2"; onActivated: strip.recallKey(2) }
    Shortcut { sequence: "3"; onActivated: strip.recallKey(3) }
    Shortcut { sequence: "4"; onActivated: strip.recallKey(4) }
    Shortcut { sequence: "5"; onActivated: strip.recallKey(5) }
    Shortcut { sequence: "6"; onActivated: strip.recallKey(6) }
    Shortcut { sequence: "7"; onActivated: strip.recallKey(7) }
    Shortcut { sequence: "8"; onActivated: strip.recallKey(8) }
    Shortcut { sequence: "9"; onActivated: strip.recallKey(9) }

    SectionTitle {
        text: "Shots"
        font.capitalization: Font.AllUppercase
    }

    // What the user must know about the shots file; stays until dismissed.
    Rectangle {
        objectName: "shotsNotice"
        visible: strip.shots.notice !== ""
        width: parent.width
        height: visible ? noticeColumn.implicitHeight + 12 : 0
        radius: 8
        color: Theme.pinkAt(0.12)
        border.width: 1
        border.color: Theme.pinkAt(0.45)
        Column {
            id: noticeColumn
            x: 6
            y: 6
            width: parent.width - 12
            spacing: 4
            Text {
                objectName: "shotsNoticeText"
                Accessible.role: Accessible.StatusBar
                Accessible.name: text
                width: parent.width
                text: strip.shots.notice
                wrapMode: Text.Wrap
                textFormat: Text.PlainText
                font.pixelSize: 10
                color: "white"
            }
            PlainButton {
                objectName: "shotsNoticeDismiss"
                text: "Dismiss"
                onClicked: strip.shots.dismissNotice()
            }
        }
    }

    Grid {
        objectName: "shotGrid"
        width: parent.width
        columns: 3
        spacing: 5
        Repeater {
            model: strip.shots
            delegate: PlainButton {
                id: tile
                required property int index
                required property string name
                required property int key
                required property string transition
                readonly property bool live: strip.shots.lastRecalled === index
                objectName: "shotTile_" + key
                width: (strip.width - 10) / 3
                leftPadding: 6
                rightPadding: 6
                topPadding: 5
                bottomPadding: 5
                Accessible.name: "Shot " + key + ": " + name
                Accessible.description: "Recalls this shot (key " + key + ")"
                contentItem: Column {
                    spacing: 1
                    Text {
                        text: tile.key + (tile.transition === "move" ? "  \u2192" : "")
                        font.pixelSize: 10
                        font.bold: true
                        color: tile.live ? Theme.pink : Theme.white(0.6)
                    }
                    Text {
                        objectName: "shotName"
                        width: tile.width - 12
                        text: tile.name
                        elide: Text.ElideRight
                        font.pixelSize: 11
                        font.weight: tile.live ? Font.DemiBold : Font.Normal
                        color: "white"
                    }
                }
                background: Rectangle {
                    radius: 7
                    color: tile.live ? Theme.pinkAt(0.2) : Theme.white(0.03)
                    border.width: 1
                    border.color: strip.current === tile.index ? Theme.pinkAt(0.55) : Theme.white(0.06)
                }
                onClicked: {
                    strip.current = index
                    strip.shots.recallShot(index)
                }
            }
        }
    }

    PlainButton {
        id: saveButton
        objectName: "saveShotButton"
        width: parent.width
        enabled: !strip.shots.full
        topPadding: 7
        bottomPadding: 7
        text: strip.shots.full ? "All 9 Shot Keys Used" : "Save Current Shot"
        Accessible.description: "Saves the picture as it is now as a shot on the next free key 1-9"
        contentItem: Text {
            text: saveButton.text
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: 11
            font.weight: Font.DemiBold
            color: "white"
            opacity: strip.shots.full ? 0.55 : 1
        }
        background: Rectangle {
            radius: 8
            color: Theme.pinkAt(0.2)
            border.width: 1
            border.color: Theme.pinkAt(0.45)
        }
        onClicked: {
            if (strip.shots.saveCurrent("")) strip.current = strip.shots.count - 1
        }
    }

    // The chosen shot's tools.
    Column {
        objectName: "shotTools"
        visible: strip.hasCurrent
        width: parent.width
        spacing: 6

        TextField {
            id: nameField
            objectName: "shotNameField"
            width: parent.width
            text: strip.currentShot ? strip.currentShot.name : ""
            maximumLength: 40
            font.pixelSize: 11
            color: "white"
            selectByMouse: true
            leftPadding: 8
            rightPadding: 8
            topPadding: 5
            bottomPadding: 5
            Accessible.name: "Shot name"
            background: Rectangle {
                radius: 6
                color: Theme.white(0.06)
                border.width: 1
                border.color: Theme.white(0.1)
            }
            FocusRing {
                visible: nameField.activeFocus
                radius: 9
            }
            onEditingFinished: if (strip.hasCurrent) strip.shots.rename(strip.current, text)
        }

        Row {
            spacing: 4
            Tool {
                objectName: "shotEarlierButton"
                text: "\u2190"
                Accessible.name: "Move shot earlier"
                enabled: strip.current > 0
                onClicked: strip.moveCurrent(-1)
            }
            Tool {
                objectName: "shotLaterButton"
                text: "\u2192"
                Accessible.name: "Move shot later"
                enabled: strip.current < strip.shots.count - 1
                onClicked: strip.moveCurrent(1)
            }
            ToolChoice {
                objectName: "shotCutButton"
                text: "Cut"
                Accessible.description: "The shot cuts straight to its camera"
                checked: strip.currentShot !== null && strip.currentShot.transition === "cut"
                onClicked: strip.shots.setTransition(strip.current, "cut", strip.currentShot.moveSeconds)
            }
            ToolChoice {
                objectName: "shotMoveButton"
                text: strip.currentShot ? "Move " + strip.currentShot.moveSeconds.toFixed(1) + " s" : "Move"
                Accessible.name: text
                Accessible.description: "The camera moves to the shot; press again for a longer move"
                checked: strip.currentShot !== null && strip.currentShot.transition === "move"
                // Pressing it while on steps the duration 0.3, 0.5, 1, 1.5, 2, 3 s and round.
                onClicked: {
                    const steps = [0.3, 0.5, 1.0, 1.5, 2.0, 3.0]
                    const now = strip.currentShot.moveSeconds
                    let next = now
                    // As it was before this click (a click checks the choice before `clicked`).
                    if (strip.currentShot.transition === "move") {
                        next = steps[0]
                        for (let i = 0; i < steps.length; ++i) {
                            if (steps[i] > now + 0.01) { next = steps[i]; break }
                        }
                    }
                    strip.shots.setTransition(strip.current, "move", next)
                }
            }
            Tool {
                objectName: "shotDeleteButton"
                text: "Delete"
                onClicked: strip.shots.removeShot(strip.current)
            }
        }
    }
}
