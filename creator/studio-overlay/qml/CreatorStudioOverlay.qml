import QtQuick
import VantryCreatorNative

// The creator-studio overlay: whatever is placed inside (the host) stays as it is, with the
// facecam window floating over it while the camera is on, the toolbar at the left edge and the
// clip toast, with the controller's status line under it. Every piece of state lives in one
// controller, made when the overlay is created and kept while it lives; every control acts on it
// and is reached with Tab and pressed with Space or Enter.
Item {
    id: overlay

    default property alias hostContent: hostLayer.data
    property string gameTitle
    property string highlightHeadline
    property string statBadge

    // The controller and the clip exporter; made on creation unless given (tests give fakes).
    property QtObject studio: null
    property QtObject clipExporter: null
    // How long a clip toast stays, in milliseconds.
    property int toastMillis: 3000
    // The host draws the presenter itself (standing in its scene): the window then shows only
    // an outline and its controls, and its drag and size steps are reported to the host
    // instead of moving and sizing the window.
    property bool standInSet: false
    // Standing in the set, the controller cuts the presenter out whatever its background mode.
    Binding {
        target: overlay.studio
        property: "standsInSet"
        value: overlay.standInSet
        when: overlay.ready && overlay.studio.standsInSet !== undefined
    }
    signal standInSetMoved(real dx, real dy, bool finished)
    // The same drag by the pointer: where it was pressed and where it is, in the overlay's units.
    signal standInSetDragged(real pressX, real pressY, real x, real y, bool finished)
    property point dragPress: Qt.point(0, 0)
    signal standInSetScaled(real step)

    // Gesture state: only during a gesture.
    property size dragDelta: Qt.size(0, 0)
    property real pinchScale: 1.0
    // The clip result shown in the toast; empty when there is none.
    property string clipToast: ""
    // Where that clip went, for people ("~/Movies/..."); empty when it was not saved.
    property string clipToastDetail: ""
    // The last file this overlay saved (a recording or a clip), for "Show in Folder".
    property string lastSavedPath: ""
    readonly property bool clipBusy: clipExporter !== null && clipExporter.running > 0

    readonly property bool ready: studio !== null
    readonly property real areaWidth: width
    readonly property real areaHeight: height
    readonly property real effectiveScale: ready ? clampScale(studio.scale * pinchScale) : 1
    readonly property bool isCircle: ready && studio.frameShape === "Circle"
    readonly property real windowWidth: (isCircle ? 148 : 176) * effectiveScale
    readonly property real windowHeight: (isCircle ? 148 : 132) * effectiveScale
    readonly property size windowOffset: ready
        ? clampOffset(Qt.size(studio.offset.width + dragDelta.width, studio.offset.height + dragDelta.height))
        : Qt.size(0, 0)
    readonly property bool isFreeCutout: ready && studio.backgroundMode === "BG Occlusion"
                                         && studio.frameShape === "Cutout"

    // The system colours in their dark-appearance values.
    readonly property color cyan: "#64d2ff"
    readonly property color blue: "#0a84ff"
    readonly property color mint: "#63e6e2"
    readonly property color yellow: "#ffd60a"
    readonly property color green: "#30d158"
    readonly property color red: "#ff453a"
    // Stand-in for the ultra-thin translucent material.
    readonly property color ultraThinMaterial: Qt.rgba(0.16, 0.16, 0.19, 0.55)

    readonly property var backgroundModes: ["BG Occlusion", "BG Blur", "Full Cam"]
    readonly property var frameShapes: ["Cutout", "Circle", "Rounded"]

    function clampScale(s) { return CreatorStudioUi.clampScale(s) }
    function clampOffset(o) { return CreatorStudioUi.clampOffset(o, Qt.size(areaWidth, areaHeight)) }
    function nextOf(list, value) { return list[(list.indexOf(value) + 1) % list.length] }

    // Window size steps shared by the minus and plus buttons and Ctrl + wheel.
    function scaleBy(step) {
        if (standInSet) standInSetScaled(step)
        else studio.scale = clampScale(studio.scale + step)
    }
    function cycleBackgroundMode() { studio.backgroundMode = nextOf(backgroundModes, studio.backgroundMode) }
    function cycleFrameShape() { studio.frameShape = nextOf(frameShapes, studio.frameShape) }
    function toggleCutout() {
        studio.backgroundMode = studio.backgroundMode === "BG Occlusion" ? "Full Cam" : "BG Occlusion"
    }

    // Drag: the window follows the pointer within the clamp box; the end stores the clamped offset.
    function dragMoved(dx, dy) {
        if (standInSet) {
            standInSetMoved(dx, dy, false)
            standInSetDragged(dragPress.x, dragPress.y, dragPress.x + dx, dragPress.y + dy, false)
        } else {
            dragDelta = Qt.size(dx, dy)
        }
    }
    function dragEnded(dx, dy) {
        if (standInSet) {
            standInSetMoved(dx, dy, true)
            standInSetDragged(dragPress.x, dragPress.y, dragPress.x + dx, dragPress.y + dy, true)
            return
        }
        studio.offset = clampOffset(Qt.size(studio.offset.width + dx, studio.offset.height + dy))
        dragDelta = Qt.size(0, 0)
    }
    // Pinch: the window shows the clamped magnification; the end stores it.
    function pinchMoved(magnification) { if (!standInSet) pinchScale = magnification }
    function pinchEnded(magnification) {
        if (standInSet) standInSetScaled(magnification - 1)
        else studio.scale = clampScale(studio.scale * magnification)
        pinchScale = 1.0
    }

    function exportClip() {
        clipExporter.start(gameTitle, highlightHeadline, statBadge)
    }
    function showClipResult(saved, outputPath) {
        clipToast = saved ? "Saved 9:16 Viral Clip!" : "Clip export failed"
        clipToastDetail = saved && outputPath ? CreatorStudioUi.displayPath(outputPath) : ""
        if (saved && outputPath) lastSavedPath = outputPath
        // Each export clears whatever toast shows when its own time is up.
        toastTimer.createObject(overlay, { interval: overlay.toastMillis })
    }

    Component.onCompleted: {
        if (!studio) studio = CreatorStudioUi.newController(overlay)
        if (!clipExporter) clipExporter = CreatorStudioUi.newClipExporter(overlay)
    }

    Component {
        id: toastTimer
        Timer {
            running: true
            onTriggered: {
                overlay.clipToast = ""
                overlay.clipToastDetail = ""
                destroy()
            }
        }
    }

    Connections {
        target: overlay.clipExporter
        ignoreUnknownSignals: true
        function onFinished(saved, outputPath) { overlay.showClipResult(saved, outputPath) }
    }

    Connections {
        target: overlay.studio
        ignoreUnknownSignals: true
        function onSavedFilePathChanged() { overlay.lastSavedPath = overlay.studio.savedFilePath }
    }

    // 1. The host.
    Item {
        id: hostLayer
        anchors.fill: parent
    }

    // 2. The facecam window, only while the camera is on.
    Item {
        id: facecamWindow
        objectName: "facecamWindow"
        visible: overlay.ready && overlay.studio.isCameraEnabled
        width: overlay.windowWidth
        height: overlay.windowHeight
        x: overlay.areaWidth / 2 + overlay.windowOffset.width - width / 2
        y: overlay.areaHeight / 2 + overlay.windowOffset.height - height / 2

        FacecamPicture {
            id: picture
            objectName: "facecamPicture"
            visible: !overlay.standInSet
            x: -CreatorStudioUi.shadowMargin
            y: -CreatorStudioUi.shadowMargin
            width: overlay.windowWidth + 2 * CreatorStudioUi.shadowMargin
            height: overlay.windowHeight + 2 * CreatorStudioUi.shadowMargin
            windowWidth: overlay.windowWidth
            windowHeight: overlay.windowHeight
            image: overlay.ready && overlay.studio.hasCameraFrame ? overlay.studio.latestCameraFrame : undefined
            shape: overlay.ready ? overlay.studio.frameShape : "Cutout"
            previewBackground: !overlay.isFreeCutout
            // The controller's border (its one rule: recording, meter, free cut-out).
            borderWidth: overlay.ready ? overlay.studio.borderWidth : 2
            borderColor: overlay.ready ? overlay.studio.borderColor : "transparent"
        }

        // The preview shown until the first camera picture arrives.
        Column {
            id: placeholder
            objectName: "facecamPlaceholder"
            visible: overlay.ready && !overlay.studio.hasCameraFrame && !overlay.standInSet
            anchors.centerIn: parent
            spacing: 4
            readonly property real iconSide: Math.min(overlay.windowWidth * 0.52, overlay.windowHeight * 0.56)

            Item {
                anchors.horizontalCenter: parent.horizontalCenter
                width: placeholder.iconSide
                height: placeholder.iconSide
                GradientSymbol {
                    objectName: "placeholderIcon"
                    anchors.centerIn: parent
                    width: parent.width + 16
                    height: parent.height + 16
                    glyph: CreatorStudioUi.icon("person.crop.circle.fill")
                    fontFamily: CreatorStudioUi.iconFamily
                    topColor: overlay.cyan
                    bottomColor: overlay.blue
                    glowColor: Qt.rgba(overlay.cyan.r, overlay.cyan.g, overlay.cyan.b, 0.6)
                    glowRadius: 8
                }
            }
            Text {
                objectName: "placeholderText"
                anchors.horizontalCenter: parent.horizontalCenter
                text: overlay.ready && overlay.studio.backgroundMode === "BG Occlusion" ? "BG OCCLUDED" : "LIVE CAM"
                font.family: CreatorStudioUi.monoFamily
                font.pixelSize: 9
                font.weight: Font.Black
                color: Qt.rgba(1, 1, 1, 0.9)
            }
        }

        // While the host shows the presenter: a handle to drag, the window's outline.
        Rectangle {
            objectName: "standInSetHandle"
            visible: overlay.standInSet
            anchors.fill: parent
            radius: 16
            color: Qt.rgba(1, 1, 1, 0.04)
            border.width: 1
            border.color: Qt.rgba(1, 1, 1, 0.35)
        }

        // The control row, straddling the window's bottom edge.
        // Never wider than the window: a small window shrinks the row with it (about its own
        // centre, which stays on the window's bottom edge).
        Rectangle {
            id: controlRow
            objectName: "facecamControls"
            anchors.horizontalCenter: parent.horizontalCenter
            y: parent.height - height + 12
            scale: Math.min(1, overlay.windowWidth / width)
            width: controls.implicitWidth + 16
            height: controls.implicitHeight + 8
            radius: height / 2
            color: Qt.rgba(0, 0, 0, 0.68)

            Row {
                id: controls
                anchors.centerIn: parent
                spacing: 6

                OverlayButton {
                    objectName: "modeButton"
                    tip: "Next background mode"
                    // Standing in the set always cuts the presenter out; the chip says so.
                    label: !overlay.ready ? ""
                           : overlay.standInSet && overlay.studio.backgroundMode !== "BG Occlusion"
                             ? overlay.studio.backgroundMode + " · Cutout in Set" : overlay.studio.backgroundMode
                    pointSize: 9
                    weight: Font.Black
                    color: overlay.ready && overlay.studio.backgroundMode === "BG Occlusion" ? overlay.cyan : "white"
                    onClicked: overlay.cycleBackgroundMode()
                }
                OverlayButton {
                    objectName: "smallerButton"
                    tip: "Smaller facecam"
                    symbol: "minus.circle.fill"
                    pointSize: 12
                    color: "white"
                    onClicked: overlay.scaleBy(-0.18)
                }
                OverlayButton {
                    objectName: "largerButton"
                    tip: "Larger facecam"
                    symbol: "plus.circle.fill"
                    pointSize: 12
                    color: "white"
                    onClicked: overlay.scaleBy(0.18)
                }
                OverlayButton {
                    objectName: "shapeButton"
                    tip: "Next frame shape (" + (overlay.ready ? overlay.studio.frameShape : "") + ")"
                    symbol: "square.on.circle"
                    pointSize: 11
                    color: "white"
                    onClicked: overlay.cycleFrameShape()
                }
            }
        }

        DragHandler {
            id: drag
            objectName: "facecamDrag"
            target: null
            dragThreshold: 10
            property vector2d last: Qt.vector2d(0, 0)
            onTranslationChanged: {
                if (!active) return
                last = activeTranslation
                overlay.dragMoved(last.x, last.y)
            }
            onActiveChanged: {
                if (active) {
                    last = Qt.vector2d(0, 0)
                    overlay.dragPress = overlay.mapFromItem(null, centroid.scenePressPosition)
                } else {
                    overlay.dragEnded(last.x, last.y)
                }
            }
        }

        PinchHandler {
            id: pinch
            objectName: "facecamPinch"
            target: null
            property real last: 1.0
            onUpdated: {
                if (!active) return
                last = activeScale
                overlay.pinchMoved(last)
            }
            onActiveChanged: {
                if (active) {
                    last = 1.0
                } else {
                    overlay.pinchEnded(last)
                }
            }
        }

        // A mouse has no pinch: Ctrl + wheel steps the size like the minus and plus buttons.
        WheelHandler {
            objectName: "facecamWheel"
            acceptedModifiers: Qt.ControlModifier
            target: null
            property real pending: 0
            onWheel: function(event) {
                pending += event.angleDelta.y
                while (pending >= 120) { overlay.scaleBy(0.18); pending -= 120 }
                while (pending <= -120) { overlay.scaleBy(-0.18); pending += 120 }
            }
        }
    }

    // 3. The toolbar at the left edge, vertically centred; the toast and the status line hang
    // under it, so the toolbar stays where it is while they come and go.
    Item {
        id: toolbarColumn
        objectName: "toolbarColumn"
        anchors.fill: parent
        visible: overlay.ready

        Rectangle {
            id: pill
            x: 14
            y: Math.round((parent.height - height) / 2)
            objectName: "toolbarPill"
            readonly property bool showAll: overlay.ready
                && (overlay.studio.isToolbarExpanded || overlay.studio.isCameraEnabled || overlay.studio.isRecording)
            width: toolbar.implicitWidth + 20
            height: toolbar.implicitHeight + 12
            radius: height / 2
            color: overlay.ultraThinMaterial
            border.width: 1
            border.color: Qt.rgba(1, 1, 1, 0.22)
            clip: true

            // The expand button's spring (response 0.28 s, damping 0.8): slightly underdamped.
            Behavior on width {
                NumberAnimation { duration: 280; easing.type: Easing.OutBack; easing.overshoot: 0.3 }
            }

            Row {
                id: toolbar
                objectName: "toolbarRow"
                x: 10
                anchors.verticalCenter: parent.verticalCenter
                spacing: 8

                OverlayButton {
                    objectName: "cameraButton"
                    visible: pill.showAll
                    readonly property bool on: overlay.ready && overlay.studio.isCameraEnabled
                    symbol: on ? "video.fill" : "video"
                    label: on ? "Cam ON" : "Facecam"
                    pointSize: 11
                    weight: Font.Bold
                    color: on ? overlay.cyan : "white"
                    onClicked: overlay.studio.toggleCamera()
                }
                OverlayButton {
                    objectName: "cutoutButton"
                    visible: pill.showAll && overlay.studio.isCameraEnabled
                    symbol: "person.and.background.dotted"
                    label: "BG Cutout"
                    pointSize: 11
                    weight: Font.Bold
                    color: overlay.ready && overlay.studio.backgroundMode === "BG Occlusion"
                           ? overlay.mint : Qt.rgba(1, 1, 1, 0.75)
                    onClicked: overlay.toggleCutout()
                }
                OverlayButton {
                    objectName: "micButton"
                    visible: pill.showAll
                    readonly property bool included: overlay.ready && overlay.studio.isMicIncluded
                    tip: included ? "Microphone in recordings: on" : "Microphone in recordings: off"
                    symbol: included ? "mic.fill" : "mic.slash.fill"
                    pointSize: 11
                    weight: Font.Bold
                    color: included ? overlay.green : overlay.red
                    onClicked: overlay.studio.isMicIncluded = !overlay.studio.isMicIncluded
                }
                OverlayButton {
                    id: recordButton
                    objectName: "recordButton"
                    visible: pill.showAll
                    readonly property bool recording: overlay.ready && overlay.studio.isRecording
                    // From STOP until the recorder has finished the file.
                    readonly property bool saving: overlay.ready && overlay.studio.isSaving === true
                    enabled: !saving
                    implicitWidth: recordRow.implicitWidth + 16
                    implicitHeight: recordRow.implicitHeight + 6
                    tip: saving ? "Saving the recording" : recording ? "Stop and save the recording"
                                                                     : "Record the screen"
                    Accessible.name: saving ? "Saving…" : recording ? "STOP" : "REC"
                    Accessible.description: tip
                    onClicked: overlay.studio.toggleRecording(overlay.gameTitle)
                    Rectangle {
                        anchors.fill: parent
                        radius: height / 2
                        color: recordButton.recording ? Qt.rgba(overlay.red.r, overlay.red.g, overlay.red.b, 0.85)
                                                      : Qt.rgba(1, 1, 1, 0.14)
                    }
                    Row {
                        id: recordRow
                        anchors.centerIn: parent
                        spacing: 4
                        Rectangle {
                            objectName: "recordDot"
                            anchors.verticalCenter: parent.verticalCenter
                            width: 8
                            height: 8
                            radius: 4
                            color: recordButton.recording ? overlay.red
                                                          : Qt.rgba(overlay.red.r, overlay.red.g, overlay.red.b, 0.75)
                        }
                        Text {
                            id: recordText
                            objectName: "recordText"
                            // The running time is announced every ten seconds, not every second.
                            Accessible.role: Accessible.StatusBar
                            Accessible.name: recordButton.recording
                                             ? "Recording " + overlay.studio.formattedRecordingTime.replace(/\d$/, "0")
                                             : text
                            text: recordButton.saving ? "Saving…"
                                : recordButton.recording ? "STOP " + overlay.studio.formattedRecordingTime : "REC"
                            font.family: CreatorStudioUi.monoFamily
                            font.pixelSize: 11
                            font.weight: Font.Black
                            color: "white"
                        }
                    }
                }
                OverlayButton {
                    objectName: "clipButton"
                    visible: pill.showAll
                    symbol: "sparkles.tv.fill"
                    // Busy while any clip is being written (several may run at once).
                    label: overlay.clipBusy ? "Exporting 9:16…" : "Clip 9:16"
                    tip: "Export a 3-second 9:16 highlight clip"
                    pointSize: 11
                    weight: Font.Bold
                    color: overlay.yellow
                    onClicked: overlay.exportClip()
                }
                OverlayButton {
                    objectName: "expandButton"
                    tip: overlay.ready && overlay.studio.isToolbarExpanded ? "Hide the creator tools"
                                                                           : "Show the creator tools (record, clip)"
                    symbol: overlay.ready && overlay.studio.isToolbarExpanded ? "chevron.right.circle.fill"
                                                                              : "record.circle"
                    pointSize: 14
                    weight: Font.Bold
                    color: overlay.ready && overlay.studio.isRecording ? overlay.red : overlay.cyan
                    onClicked: overlay.studio.isToolbarExpanded = !overlay.studio.isToolbarExpanded
                }
            }
        }

        Column {
            objectName: "toolbarNotes"
            x: 14
            anchors.top: pill.bottom
            anchors.topMargin: 6
            spacing: 6

            Rectangle {
                objectName: "clipToast"
                visible: overlay.clipToast !== ""
                width: toastColumn.implicitWidth + 20
                height: toastColumn.implicitHeight + 10
                radius: Math.min(height / 2, 12)
                color: Qt.rgba(0, 0, 0, 0.75)
                Column {
                    id: toastColumn
                    anchors.centerIn: parent
                    Text {
                        objectName: "clipToastText"
                        text: overlay.clipToast
                        font.pixelSize: 11
                        font.bold: true
                        color: "white"
                    }
                    Text {
                        objectName: "clipToastDetail"
                        visible: text !== ""
                        text: overlay.clipToastDetail
                        font.pixelSize: 10
                        color: Qt.rgba(1, 1, 1, 0.85)
                    }
                }
            }

            // The controller's status line: what the camera, the recorder and the file manager
            // last said, with "Show in Folder" once something has been saved.
            Rectangle {
                objectName: "statusCaption"
                visible: overlay.ready && statusText.text !== ""
                width: statusRow.implicitWidth + 16
                height: statusRow.implicitHeight + 8
                radius: height / 2
                color: Qt.rgba(0, 0, 0, 0.62)
                Row {
                    id: statusRow
                    anchors.centerIn: parent
                    spacing: 8
                    Text {
                        id: statusText
                        objectName: "statusText"
                        anchors.verticalCenter: parent.verticalCenter
                        text: overlay.ready ? overlay.studio.statusMessage : ""
                        font.pixelSize: 10
                        font.weight: Font.DemiBold
                        color: Qt.rgba(1, 1, 1, 0.9)
                        // Announced whenever the controller says something new.
                        Accessible.role: Accessible.StatusBar
                        Accessible.name: text
                    }
                    OverlayButton {
                        objectName: "showInFolderButton"
                        visible: overlay.lastSavedPath !== ""
                        label: "Show in Folder"
                        tip: CreatorStudioUi.displayPath(overlay.lastSavedPath)
                        pointSize: 10
                        color: overlay.cyan
                        onClicked: overlay.studio.revealInFileViewer(overlay.lastSavedPath)
                    }
                }
            }
        }
    }
}
