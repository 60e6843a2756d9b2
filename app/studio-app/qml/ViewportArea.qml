import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import VantryNative

// The live picture (or a still in its place) under the ON AIR badge, the
// frame-rate badge and the status banner.
Item {
    id: area
    required property var vm
    property url staticViewportOverride: ""
    readonly property bool hasStaticViewport: staticViewportOverride.toString() !== ""
    clip: true

    Loader {
        id: picture
        objectName: "viewportPicture"
        anchors.fill: parent
        sourceComponent: area.hasStaticViewport ? stillComponent : liveComponent
    }

    Component {
        id: stillComponent
        Image {
            objectName: "staticViewport"
            source: area.staticViewportOverride
            fillMode: Image.PreserveAspectCrop
            smooth: true
            clip: true
        }
    }

    Component {
        id: liveComponent
        StageViewportView {
            objectName: "stageViewport"
            engine: area.vm.engine
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 8

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 14

            MaterialCapsule {
                objectName: "onAirBadge"
                padH: 12
                padV: 6
                Row {
                    spacing: 8
                    Rectangle {
                        anchors.verticalCenter: parent.verticalCenter
                        width: 7
                        height: 7
                        radius: 3.5
                        color: Theme.red
                    }
                    Text {
                        objectName: "onAirText"
                        text: StudioUi.onAirText(area.vm.selectedSet)
                        font.pixelSize: 11
                        font.bold: true
                        color: "white"
                    }
                }
            }

            Item { Layout.fillWidth: true }

            MaterialCapsule {
                objectName: "fpsBadge"
                padH: 10
                padV: 6
                Text {
                    objectName: "fpsText"
                    text: StudioUi.fpsText(area.vm.liveFPS)
                    font.pixelSize: 11
                    font.bold: true
                    color: Theme.pink
                }
            }
        }

        Item { Layout.fillHeight: true }

        RowLayout {
            objectName: "bannerBar"
            visible: area.vm.hasStatusBanner
            Layout.fillWidth: true
            Layout.margins: 14

            // A message too long for the viewport is elided in the middle (where a
            // file name sits), so the whole capsule stays inside; the full text
            // shows in a tooltip.
            Rectangle {
                id: bannerCapsule
                objectName: "bannerCapsule"
                implicitWidth: bannerText.implicitWidth + 24
                implicitHeight: bannerText.implicitHeight + 12
                Layout.maximumWidth: Math.max(24, area.width - 28)
                radius: height / 2
                color: Theme.black(0.72)
                Text {
                    id: bannerText
                    objectName: "bannerText"
                    // Announced whenever the studio reports something.
                    Accessible.role: Accessible.StatusBar
                    Accessible.name: area.vm.statusBanner
                    anchors.centerIn: parent
                    width: Math.min(implicitWidth, bannerCapsule.width - 24)
                    text: area.vm.statusBanner
                    elide: Text.ElideMiddle
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                    color: "white"
                }
                HoverHandler { id: bannerHover }
                ToolTip {
                    objectName: "bannerToolTip"
                    text: area.vm.statusBanner
                    visible: bannerHover.hovered && bannerText.truncated
                    delay: 400
                }
            }

            Item { Layout.fillWidth: true }
        }
    }

    StagePresenterModifier {
        id: presenterModifier
        anchors.fill: parent
        active: area.vm.showVisionPresenter
        standInSet: area.vm.presenterInSet
    }

    // The vertical picture while a server takes it: its latest frame, a few times a second.
    Rectangle {
        id: verticalPreview
        objectName: "verticalPreview"
        readonly property bool shown: area.vm.goLive !== undefined && area.vm.goLive !== null
                                      && area.vm.goLive.verticalLive
        visible: shown
        Accessible.role: Accessible.Graphic
        Accessible.name: "Vertical preview"
        Accessible.description: "The vertical picture the stream sends"
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        anchors.rightMargin: 14
        height: Math.min(parent.height * 0.5, 320)
        width: height * 9 / 16 + 4
        radius: 6
        color: Theme.black(0.72)
        border.width: 1
        border.color: Theme.white(0.2)
        ProgramPreviewView {
            id: verticalPreviewPicture
            objectName: "verticalPreviewPicture"
            anchors.fill: parent
            anchors.margins: 2
        }
        Binding {
            target: verticalPreviewPicture
            property: "picture"
            value: verticalPreview.shown ? area.vm.goLive.verticalPreview : null
            when: verticalPreview.shown
        }
        Text {
            anchors.left: parent.left
            anchors.top: parent.top
            anchors.margins: 6
            text: "Vertical"
            font.pixelSize: 10
            font.weight: Font.DemiBold
            color: "white"
            style: Text.Outline
            styleColor: Theme.black(0.6)
        }
    }

    // "Stand in Set": the overlay's camera pictures go into the studio, its drag and size
    // steps move the presenter in the set.
    Binding {
        target: area.vm
        property: "presenter"
        value: presenterModifier.item ? presenterModifier.item.studio : null
        when: area.vm.presenterInSet !== undefined
    }
    Connections {
        target: presenterModifier.item
        ignoreUnknownSignals: true
        // The drag follows the pointer: the floor point under the press stays under it.
        function onStandInSetDragged(pressX, pressY, x, y, finished) {
            area.vm.dragPresenterInSet(pressX, pressY, x, y, presenterModifier.width, presenterModifier.height, finished)
        }
        function onStandInSetScaled(step) { area.vm.scalePresenterInSet(step) }
    }

    // "Refine Edges" reaches each overlay's controller (and so its camera feed) as it is made.
    Binding {
        target: presenterModifier.item ? presenterModifier.item.studio : null
        property: "refineEdges"
        value: area.vm.refineEdges
        when: presenterModifier.item !== null && presenterModifier.item.studio !== null
    }

    // The program feed composites the presenter where the overlay shows it in this area.
    Binding {
        target: area.vm.goLive
        property: "viewportSize"
        value: Qt.size(area.width, area.height)
        when: area.vm.goLive !== undefined && area.vm.goLive !== null
    }
    Binding {
        target: area.vm.goLive
        property: "presenter"
        value: presenterModifier.item ? presenterModifier.item.studio : null
        when: area.vm.goLive !== undefined && area.vm.goLive !== null
    }
}
