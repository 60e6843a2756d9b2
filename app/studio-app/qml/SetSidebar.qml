import QtQuick
import QtQuick.Controls
import VantryNative

// The set cards, the LED wall's load button and the mounted line.
Rectangle {
    id: sidebar
    required property var vm
    color: Theme.sidebarFill
    implicitWidth: 248

    Flickable {
        id: sidebarFlick
        anchors.fill: parent
        clip: true
        contentWidth: width
        contentHeight: content.implicitHeight + 24
        boundsBehavior: Flickable.StopAtBounds
        // Always drawn while the content overflows, so a control below the fold is never hidden.
        ScrollBar.vertical: ScrollBar {
            objectName: "sidebarScrollBar"
            Accessible.name: "Scroll the sets, the slide wall and the shots"
            policy: sidebarFlick.contentHeight > sidebarFlick.height ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
        }
        ScrollToFocus {
            flickable: sidebarFlick
        }

        Column {
            id: content
            x: 12
            y: 12
            width: sidebar.width - 24
            spacing: 14

            SectionTitle { text: "3D VIRTUAL BROADCAST SETS" }

            // One set is on air: a screen reader reads the cards as radio buttons, the chosen one checked.
            Column {
                objectName: "setCards"
                Accessible.role: Accessible.Grouping
                Accessible.name: "3D VIRTUAL BROADCAST SETS"
                width: parent.width
                spacing: 6
                Repeater {
                    model: sidebar.vm.sets
                    delegate: PlainChoice {
                        id: card
                        required property var modelData
                        readonly property bool selected: sidebar.vm.selectedSet === modelData.id
                        objectName: "setCard_" + modelData.id
                        Accessible.name: modelData.title
                        Accessible.description: modelData.subtitle
                        checked: selected
                        width: parent.width
                        leftPadding: 10
                        rightPadding: 10
                        topPadding: 8
                        bottomPadding: 8
                        contentItem: Column {
                            spacing: 2
                            Text {
                                objectName: "title"
                                text: card.modelData.title
                                font.pixelSize: 12
                                font.weight: card.selected ? Font.DemiBold : Font.Normal
                                color: "white"
                            }
                            Text {
                                text: card.modelData.subtitle
                                font.pixelSize: 10
                                color: Theme.white(0.55)
                            }
                        }
                        background: Rectangle {
                            objectName: "cardFill"
                            radius: 8
                            color: card.selected ? Theme.pinkAt(0.2) : Theme.white(0.03)
                            border.width: 1
                            border.color: card.selected ? Theme.pinkAt(0.55) : Theme.white(0.06)
                        }
                        onClicked: sidebar.vm.selectSet(modelData.id)
                    }
                }
            }

            Divider { width: parent.width }

            SectionTitle { text: "LIVE 3D LED SLIDE WALL" }

            PlainButton {
                id: loadButton
                objectName: "loadSlideButton"
                Accessible.name: "Load Slide / Demo Screen..."
                Accessible.description: "Chooses a picture, video or slide deck to show on the 3D LED Wall"
                width: parent.width
                topPadding: 8
                bottomPadding: 8
                contentItem: Item {
                    implicitHeight: loadRow.implicitHeight
                    Row {
                        id: loadRow
                        anchors.centerIn: parent
                        spacing: 5
                        SymbolText {
                            anchors.verticalCenter: parent.verticalCenter
                            symbol: "tv.inset.filled"
                            pointSize: 11
                            color: "white"
                        }
                        Text {
                            anchors.verticalCenter: parent.verticalCenter
                            text: "Load Slide / Demo Screen..."
                            font.pixelSize: 11
                            font.weight: Font.DemiBold
                            color: "white"
                        }
                    }
                }
                background: Rectangle {
                    radius: 8
                    color: Theme.pinkAt(0.2)
                    border.width: 1
                    border.color: Theme.pinkAt(0.45)
                }
                onClicked: sidebar.vm.loadSlidePanel()
            }

            Text {
                objectName: "mountedLine"
                // Announced whenever another slide is mounted.
                Accessible.role: Accessible.StatusBar
                Accessible.name: text
                width: parent.width
                text: "Mounted: " + sidebar.vm.slideName
                font.pixelSize: 10
                color: Theme.white(0.6)
                wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                maximumLineCount: 2
                elide: Text.ElideRight
            }

            Divider { width: parent.width }

            ShotsStrip {
                objectName: "shotsStrip"
                vm: sidebar.vm
                width: parent.width
            }

            Divider { width: parent.width }

            RemoteSection {
                objectName: "remoteSection"
                width: parent.width
                remote: sidebar.Window.window ? sidebar.Window.window.remote || null : null
            }
        }
    }
}
