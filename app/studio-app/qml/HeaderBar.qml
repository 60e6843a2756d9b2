import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import VantryNative

// Brand, camera switcher, the "Vision Cutout" toggle and, beside it, "Refine Edges" (steady,
// picture-fitted presenter edges), the presenter's "Float" / "Stand in Set" choice and
// "Colour Match".
Rectangle {
    id: header
    required property var vm
    color: Theme.headerFill
    implicitHeight: row.implicitHeight + 20

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        anchors.topMargin: 10
        anchors.bottomMargin: 10
        spacing: 14

        Row {
            objectName: "brand"
            spacing: 9
            Layout.alignment: Qt.AlignVCenter
            Item {
                width: 26
                height: 26
                anchors.verticalCenter: parent.verticalCenter
                Canvas {
                    anchors.fill: parent
                    onPaint: {
                        const ctx = getContext("2d")
                        ctx.reset()
                        const g = ctx.createLinearGradient(0, 0, width, height)
                        g.addColorStop(0, Theme.pink)
                        g.addColorStop(1, Theme.cyan)
                        ctx.fillStyle = g
                        ctx.beginPath()
                        ctx.roundedRect(0, 0, width, height, 7, 7)
                        ctx.fill()
                    }
                }
                SymbolText {
                    anchors.centerIn: parent
                    symbol: "video.badge.waveform.fill"
                    pointSize: 12
                    font.bold: true
                    color: "white"
                }
            }
            Column {
                spacing: 1
                anchors.verticalCenter: parent.verticalCenter
                Text {
                    text: "Vantry Pro"
                    font.pixelSize: 13
                    font.bold: true
                    color: "white"
                }
                Text {
                    text: "Zero-Green-Screen 3D Broadcast Studio"
                    font.pixelSize: 10
                    color: Theme.white(0.55)
                }
            }
        }

        Item { Layout.fillWidth: true; Layout.minimumWidth: 8 }

        // Four tabs, one selected: a screen reader reads them as page tabs with the chosen one checked.
        Rectangle {
            objectName: "cameraSwitcher"
            Accessible.role: Accessible.PageTabList
            Accessible.name: "Camera angle"
            Layout.alignment: Qt.AlignVCenter
            implicitWidth: cameraRow.implicitWidth + 6
            implicitHeight: cameraRow.implicitHeight + 6
            radius: 8
            color: Theme.white(0.05)
            Row {
                id: cameraRow
                x: 3
                y: 3
                spacing: 3
                Repeater {
                    model: header.vm.cameraAngles
                    delegate: PlainTab {
                        id: cameraButton
                        required property var modelData
                        readonly property bool selected: header.vm.cameraAngle === modelData.id
                        objectName: "camera_" + modelData.id
                        Accessible.name: modelData.title
                        checked: selected
                        Accessible.description: "Shows the studio from this camera"
                        leftPadding: 9
                        rightPadding: 9
                        topPadding: 5
                        bottomPadding: 5
                        contentItem: Text {
                            text: cameraButton.modelData.title
                            font.pixelSize: 11
                            font.weight: cameraButton.selected ? Font.DemiBold : Font.Medium
                            color: "white"
                        }
                        background: Rectangle {
                            radius: 6
                            color: cameraButton.selected ? Theme.pinkAt(0.28) : "transparent"
                        }
                        onClicked: {
                            header.vm.cameraAngle = modelData.id
                            header.vm.sync()
                        }
                    }
                }
            }
        }

        Item { Layout.fillWidth: true; Layout.minimumWidth: 8 }

        Row {
            spacing: 8
            Layout.alignment: Qt.AlignVCenter
            PlainToggle {
                id: visionButton
                objectName: "visionCutoutButton"
                readonly property bool on: header.vm.showVisionPresenter
                checked: on
                Accessible.name: "Vision Cutout"
                Accessible.description: "Lays your webcam over the studio with the background removed"
                leftPadding: 10
                rightPadding: 10
                topPadding: 6
                bottomPadding: 6
                contentItem: Row {
                    spacing: 5
                    SymbolText {
                        objectName: "visionCutoutSymbol"
                        anchors.verticalCenter: parent.verticalCenter
                        symbol: visionButton.on ? "person.crop.rectangle.fill" : "person.crop.rectangle"
                        pointSize: 11
                        color: "white"
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: "Vision Cutout"
                        font.pixelSize: 11
                        font.weight: Font.DemiBold
                        color: "white"
                    }
                }
                background: Rectangle {
                    objectName: "visionCutoutFill"
                    radius: height / 2
                    color: visionButton.on ? Theme.pinkAt(0.32) : Theme.white(0.07)
                }
                onClicked: header.vm.showVisionPresenter = !header.vm.showVisionPresenter
            }
            PlainToggle {
                id: refineButton
                objectName: "refineEdgesButton"
                readonly property bool on: header.vm.refineEdges
                leftPadding: 10
                rightPadding: 10
                topPadding: 6
                bottomPadding: 6
                checked: on
                Accessible.name: "Refine Edges"
                Accessible.description: "Fits the presenter's edges to the camera picture and holds them steady"
                contentItem: Row {
                    spacing: 5
                    SymbolText {
                        objectName: "refineEdgesSymbol"
                        anchors.verticalCenter: parent.verticalCenter
                        symbol: "person.and.background.dotted"
                        pointSize: 11
                        color: "white"
                        opacity: refineButton.on ? 1.0 : 0.55
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: "Refine Edges"
                        font.pixelSize: 11
                        font.weight: Font.DemiBold
                        color: "white"
                        opacity: refineButton.on ? 1.0 : 0.55
                    }
                }
                background: Rectangle {
                    objectName: "refineEdgesFill"
                    radius: height / 2
                    color: refineButton.on ? Theme.pinkAt(0.32) : Theme.white(0.07)
                }
                onClicked: header.vm.refineEdges = !header.vm.refineEdges
            }
            // How the presenter shows: over the picture, or standing in the set.
            Rectangle {
                objectName: "presenterModeChooser"
                Accessible.role: Accessible.Grouping
                Accessible.name: "Presenter"
                anchors.verticalCenter: parent.verticalCenter
                implicitWidth: modeRow.implicitWidth + 4
                implicitHeight: modeRow.implicitHeight + 4
                width: implicitWidth
                height: implicitHeight
                radius: height / 2
                color: Theme.white(0.07)
                Row {
                    id: modeRow
                    anchors.centerIn: parent
                    Repeater {
                        model: [{ label: "Float", inSet: false }, { label: "Stand in Set", inSet: true }]
                        PlainChoice {
                            id: modeButton
                            objectName: modelData.inSet ? "standInSetButton" : "floatButton"
                            readonly property bool selected: header.vm.presenterInSet === modelData.inSet
                            Accessible.name: modelData.label
                            checked: selected
                            Accessible.description: modelData.inSet ? "Stands the presenter behind the desk, lit by the rig"
                                                                    : "Lays the cut-out presenter over the picture"
                            leftPadding: 10
                            rightPadding: 10
                            topPadding: 4
                            bottomPadding: 4
                            contentItem: Text {
                                text: modelData.label
                                font.pixelSize: 11
                                font.weight: Font.DemiBold
                                color: "white"
                            }
                            background: Rectangle {
                                radius: height / 2
                                color: modeButton.selected ? Theme.pinkAt(0.32) : "transparent"
                            }
                            onClicked: header.vm.presenterInSet = modelData.inSet
                        }
                    }
                }
            }
            PlainToggle {
                id: colourMatchButton
                objectName: "colourMatchButton"
                readonly property bool on: header.vm.colourMatch
                anchors.verticalCenter: parent.verticalCenter
                leftPadding: 10
                rightPadding: 10
                topPadding: 6
                bottomPadding: 6
                checked: on
                Accessible.name: "Colour Match"
                Accessible.description: "Matches the presenter's colour and brightness to the set's key light, slowly"
                contentItem: Text {
                    text: "Colour Match"
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                    color: "white"
                    opacity: colourMatchButton.on ? 1.0 : 0.55
                }
                background: Rectangle {
                    objectName: "colourMatchFill"
                    radius: height / 2
                    color: colourMatchButton.on ? Theme.pinkAt(0.32) : Theme.white(0.07)
                }
                onClicked: header.vm.colourMatch = !header.vm.colourMatch
            }
        }
    }
}
