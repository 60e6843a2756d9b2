import QtQuick
import QtQuick.Controls
import VantryNative

// The three lighting sliders, the export button and the GO LIVE section.
Rectangle {
    id: sidebar
    required property var vm
    color: Theme.sidebarFill
    implicitWidth: 296

    Flickable {
        id: sidebarFlick
        objectName: "lightingScroll"
        anchors.fill: parent
        clip: true
        contentWidth: width
        contentHeight: content.implicitHeight + 28
        boundsBehavior: Flickable.StopAtBounds
        // Always drawn while the content overflows, so a control below the fold is never hidden.
        ScrollBar.vertical: ScrollBar {
            objectName: "sidebarScrollBar"
            Accessible.name: "Scroll the lighting, export and GO LIVE"
            policy: sidebarFlick.contentHeight > sidebarFlick.height ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
        }
        ScrollToFocus {
            flickable: sidebarFlick
        }

        Column {
            id: content
            x: 14
            y: 14
            width: sidebar.width - 28
            spacing: 14

            SectionTitle { text: "STUDIO LIGHTING RIG" }

            SliderRow {
                objectName: "keyLightRow"
                width: parent.width
                label: "Key Light"
                from: 0.4
                to: 2.4
                value: sidebar.vm.keyGain
                onMoved: (v) => { sidebar.vm.keyGain = v }
            }
            SliderRow {
                objectName: "neonRow"
                width: parent.width
                label: "Neon Rim Glow"
                from: 0.2
                to: 2.5
                value: sidebar.vm.neonGain
                onMoved: (v) => { sidebar.vm.neonGain = v }
            }
            SliderRow {
                objectName: "ledRow"
                width: parent.width
                label: "LED Wall Luminance"
                from: 0.5
                to: 1.8
                value: sidebar.vm.ledBrightness
                onMoved: (v) => { sidebar.vm.ledBrightness = v }
            }

            Divider { width: parent.width }

            SectionTitle { text: "RECORD & BROADCAST EXPORT" }

            Text {
                width: parent.width
                text: "Toggle Vision Cutout above for zero-green-screen live presenter compositing, or render a 1080p studio broadcast clip locally."
                font.pixelSize: 11
                color: Theme.white(0.65)
                wrapMode: Text.WordWrap
                lineHeightMode: Text.FixedHeight
                lineHeight: fontInfo.pixelSize * 1.2 + 4
            }

            Column {
                width: parent.width
                spacing: 6
                PlainButton {
                    id: exportButton
                    objectName: "exportButton"
                    Accessible.name: sidebar.vm.isExporting ? "Exporting 1080p Broadcast..." : "Export 1080p Broadcast MP4..."
                    Accessible.description: "Exports a 3-second 1080p clip of the studio"
                    width: parent.width
                    topPadding: 10
                    bottomPadding: 10
                    enabled: !sidebar.vm.isExporting
                    opacity: enabled ? 1 : 0.45
                    contentItem: Item {
                        implicitHeight: exportRow.implicitHeight
                        Row {
                            id: exportRow
                            anchors.centerIn: parent
                            spacing: 5
                            SymbolText {
                                anchors.verticalCenter: parent.verticalCenter
                                symbol: "record.circle.fill"
                                pointSize: 12
                                color: "white"
                            }
                            Text {
                                objectName: "exportLabel"
                                anchors.verticalCenter: parent.verticalCenter
                                text: sidebar.vm.isExporting ? "Exporting 1080p Broadcast..." : "Export 1080p Broadcast MP4..."
                                font.pixelSize: 12
                                font.bold: true
                                color: "white"
                            }
                        }
                    }
                    background: Rectangle {
                        radius: 8
                        gradient: Gradient {
                            orientation: Gradient.Horizontal
                            GradientStop { position: 0; color: Theme.pink }
                            GradientStop { position: 1; color: Theme.orange }
                        }
                    }
                    onClicked: sidebar.vm.exportBroadcastMP4Panel()
                }

                // Export progress (frames written / frame total), shown only while exporting.
                Rectangle {
                    objectName: "exportProgressBar"
                    visible: sidebar.vm.isExporting
                    // Announced in steps of a tenth, not on every frame.
                    Accessible.role: Accessible.StatusBar
                    Accessible.name: "Exporting 1080p Broadcast... "
                                     + Math.floor(Math.max(0, Math.min(1, sidebar.vm.exportProgress)) * 10) * 10 + " %"
                    width: parent.width
                    height: 3
                    radius: 1.5
                    color: Theme.white(0.1)
                    Rectangle {
                        objectName: "exportProgressFill"
                        width: parent.width * Math.max(0, Math.min(1, sidebar.vm.exportProgress))
                        height: parent.height
                        radius: 1.5
                        color: Theme.pink
                    }
                }
            }

            Divider { width: parent.width }

            AudioSection {
                objectName: "audioSection"
                width: parent.width
                audio: sidebar.vm.audio
            }

            Divider { width: parent.width }

            GoLiveSection {
                objectName: "goLiveSection"
                width: parent.width
                live: sidebar.vm.goLive
            }
        }
    }
}
