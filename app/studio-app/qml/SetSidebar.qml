import QtQuick
import QtQuick.Controls
import VantryNative

// The set cards, the LED wall's load button, the mounted line with a deck's page steps, the
// screen share, the shots and the remote control.
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

            // A deck's pages: "‹ 3 / 12 ›".
            Item {
                objectName: "slideStepper"
                visible: sidebar.vm.wallKind === "pdf"
                width: parent.width
                height: visible ? stepRow.implicitHeight : 0
                Row {
                    id: stepRow
                    anchors.horizontalCenter: parent.horizontalCenter
                    spacing: 10
                    PlainButton {
                        objectName: "previousSlideButton"
                        text: "Previous Slide"
                        enabled: sidebar.vm.slidePage > 1
                        anchors.verticalCenter: parent.verticalCenter
                        leftPadding: 10
                        rightPadding: 10
                        topPadding: 2
                        bottomPadding: 2
                        contentItem: Text {
                            text: "\u2039"
                            font.pixelSize: 18
                            color: parent.enabled ? "white" : Theme.white(0.3)
                        }
                        background: Rectangle { radius: 6; color: Theme.white(0.06) }
                        onClicked: sidebar.vm.previousSlide()
                    }
                    Text {
                        objectName: "slideCounter"
                        // Announced as the deck steps.
                        Accessible.role: Accessible.StatusBar
                        Accessible.name: "Slide " + text
                        anchors.verticalCenter: parent.verticalCenter
                        text: sidebar.vm.slidePage + " / " + sidebar.vm.slideCount
                        font.pixelSize: 12
                        font.weight: Font.DemiBold
                        color: "white"
                    }
                    PlainButton {
                        objectName: "nextSlideButton"
                        text: "Next Slide"
                        enabled: sidebar.vm.slidePage < sidebar.vm.slideCount
                        anchors.verticalCenter: parent.verticalCenter
                        leftPadding: 10
                        rightPadding: 10
                        topPadding: 2
                        bottomPadding: 2
                        contentItem: Text {
                            text: "\u203a"
                            font.pixelSize: 18
                            color: parent.enabled ? "white" : Theme.white(0.3)
                        }
                        background: Rectangle { radius: 6; color: Theme.white(0.06) }
                        onClicked: sidebar.vm.nextSlide()
                    }
                }
            }

            // A screen or one window on the wall until "Stop Sharing" or another source.
            PlainButton {
                id: shareButton
                objectName: "shareScreenButton"
                width: parent.width
                topPadding: 6
                bottomPadding: 6
                text: sidebar.vm.screenSharing ? "Stop Sharing" : "Share Screen"
                Accessible.description: sidebar.vm.screenSharing ? "Takes the shared screen off the 3D LED Wall"
                                                                 : "Shows your screen or one window on the 3D LED Wall"
                contentItem: Text {
                    text: shareButton.text
                    horizontalAlignment: Text.AlignHCenter
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                    color: "white"
                }
                background: Rectangle {
                    radius: 8
                    color: sidebar.vm.screenSharing ? Theme.pinkAt(0.2) : Theme.white(0.06)
                    border.width: 1
                    border.color: Theme.white(0.1)
                }
                onClicked: {
                    if (sidebar.vm.screenSharing) {
                        sidebar.vm.stopScreenShare()
                    } else if (sidebar.vm.screenShareUsesPortal) {
                        sidebar.vm.shareScreen()  // the desktop's own dialog picks
                    } else {
                        sharePicker.windows = sidebar.vm.shareableWindows()
                        sharePicker.returnReason = shareButton.visualFocus ? Qt.TabFocusReason : Qt.OtherFocusReason
                        sharePicker.open()
                    }
                }

                // X11: the entire screen or one window, by its title.
                Popup {
                    id: sharePicker
                    objectName: "sharePicker"
                    property var windows: []
                    // Closed (a choice, Escape, a click outside), it gives the keyboard back to the
                    // button, ringed when the keyboard opened it.
                    property int returnReason: Qt.OtherFocusReason
                    onClosed: shareButton.forceActiveFocus(returnReason)
                    y: shareButton.height + 4
                    width: shareButton.width
                    padding: 6
                    focus: true
                    background: Rectangle {
                        radius: 8
                        color: Theme.sidebarFill
                        border.width: 1
                        border.color: Theme.white(0.14)
                    }
                    contentItem: Column {
                        spacing: 2
                        Repeater {
                            model: [{ id: 0, title: "Entire screen" }].concat(sharePicker.windows)
                            delegate: PlainButton {
                                id: choice
                                required property var modelData
                                required property int index
                                objectName: "shareChoice_" + index
                                width: sharePicker.availableWidth
                                text: modelData.title
                                leftPadding: 8
                                rightPadding: 8
                                topPadding: 5
                                bottomPadding: 5
                                contentItem: Text {
                                    text: choice.text
                                    font.pixelSize: 11
                                    color: "white"
                                    elide: Text.ElideRight
                                }
                                background: Rectangle {
                                    radius: 6
                                    color: choice.hovered || choice.visualFocus ? Theme.white(0.1) : "transparent"
                                }
                                onClicked: {
                                    sharePicker.close()
                                    if (index === 0)
                                        sidebar.vm.shareScreen()
                                    else
                                        sidebar.vm.shareWindow(modelData.id, modelData.title)
                                }
                            }
                        }
                    }
                }
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
