import QtQuick
import VantryCreatorNative

// A controller with the real one's properties and operations, recording what the overlay asks.
QtObject {
    property bool isToolbarExpanded: false
    property bool isCameraEnabled: false
    property string backgroundMode: "BG Occlusion"
    property string frameShape: "Cutout"
    property bool isMirrored: true
    property bool isMicIncluded: true
    property bool isRecording: false
    property bool isSaving: false
    property string statusMessage: "Creator Cam Ready"
    property string savedFilePath: ""
    property int recordingElapsedSeconds: 0
    property string formattedRecordingTime: "00:00"
    property real micActivityLevel: 0.25
    property var latestCameraFrame
    property bool hasCameraFrame: false
    property size offset: Qt.size(-16, -96)
    property real scale: 1.0
    // The border as the real controller derives it, by the same rule.
    readonly property color borderColor: CreatorStudioUi.presenterBorderColor(isRecording, micActivityLevel,
                                                                              backgroundMode, frameShape)
    readonly property real borderWidth: CreatorStudioUi.presenterBorderWidth(isRecording, micActivityLevel,
                                                                             backgroundMode, frameShape)

    property int cameraToggles: 0
    property var recordingTitles: []
    property var revealed: []

    function toggleCamera() {
        cameraToggles += 1
        isCameraEnabled = !isCameraEnabled
    }
    function revealInFileViewer(path) {
        revealed = revealed.concat([path])
    }
    function toggleRecording(gameTitle) {
        recordingTitles = recordingTitles.concat([gameTitle])
    }
}
