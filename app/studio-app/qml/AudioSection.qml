import QtQuick
import QtQuick.Controls

// AUDIO: the programme sound every output carries. Each source with its meter (peak and RMS,
// dBFS), mute button, gain slider and device choice; the "Voice Filters" switch; the sound's
// status line. `audio` is the window's AudioMixController.
Column {
    id: section
    required property var audio
    spacing: 8

    SectionTitle { text: "AUDIO" }

    // dBFS from -60 to 0 as a share of the meter's width.
    function meterShare(db) {
        return Math.max(0, Math.min(1, (db + 60) / 60))
    }

    // One block a source; the blocks stay as they are while their values change (a slider being
    // dragged keeps its handle).
    Repeater {
        model: 3
        delegate: Column {
            id: source
            required property int index
            readonly property var modelData: section.audio.sources[index]
            readonly property var meter: section.audio.meters[index]
            width: section.width
            spacing: 4

            Item {
                width: section.width
                height: Math.max(sourceTitle.implicitHeight, muteButton.implicitHeight)
                Text {
                    id: sourceTitle
                    anchors.verticalCenter: parent.verticalCenter
                    text: source.modelData.title
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                    color: Theme.white(0.85)
                }
                // Read as a check box, "Mute Mic/Aux", checked while the source is muted.
                PlainToggle {
                    id: muteButton
                    objectName: "audioMute_" + source.modelData.id
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    text: source.modelData.muted ? "Unmute " + source.modelData.title : "Mute " + source.modelData.title
                    checked: source.modelData.muted
                    Accessible.name: "Mute " + source.modelData.title
                    topPadding: 3
                    bottomPadding: 3
                    leftPadding: 8
                    rightPadding: 8
                    contentItem: Text {
                        text: source.modelData.muted ? "Muted" : "Mute"
                        font.pixelSize: 10
                        color: "white"
                    }
                    background: Rectangle {
                        radius: 6
                        color: source.modelData.muted ? Theme.red : Theme.white(0.1)
                    }
                    onClicked: section.audio.setMuted(source.modelData.id, !source.modelData.muted)
                }
            }

            // The meter: RMS as the bar, peak as the line; dBFS beside it.
            Item {
                width: section.width
                height: 10
                Rectangle {
                    id: meterTrack
                    objectName: "audioMeter_" + source.modelData.id
                    // Named for the reader; its level is not announced (it changes many times a second).
                    Accessible.role: Accessible.Indicator
                    Accessible.name: source.modelData.title + " level"
                    width: parent.width - meterText.width - 6
                    height: 6
                    anchors.verticalCenter: parent.verticalCenter
                    radius: 3
                    color: Theme.white(0.1)
                    Rectangle {
                        width: parent.width * section.meterShare(source.meter.rmsDb)
                        height: parent.height
                        radius: 3
                        color: source.meter.peakDb > -3 ? Theme.red : source.meter.peakDb > -12 ? Theme.orange : Theme.pink
                    }
                    Rectangle {
                        x: (parent.width - width) * section.meterShare(source.meter.peakDb)
                        width: 2
                        height: parent.height
                        color: "white"
                    }
                }
                Text {
                    id: meterText
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    text: source.meter.peakDb <= -120 ? "-inf dB" : source.meter.peakDb.toFixed(1) + " dB"
                    font.pixelSize: 9
                    color: Theme.white(0.55)
                }
            }

            SliderRow {
                objectName: "audioGain_" + source.modelData.id
                width: section.width
                label: "Gain, dB"
                accessibleName: source.modelData.title + " gain"
                unit: "dB"
                from: section.audio.minGainDb
                to: section.audio.maxGainDb
                value: source.modelData.gainDb
                onMoved: (v) => section.audio.setGainDb(source.modelData.id, v)
            }

            // Which device: the default, or one the sound server offers.
            ComboBox {
                id: deviceBox
                objectName: "audioDevice_" + source.modelData.id
                visible: source.modelData.id !== "wallVideo"
                width: section.width
                font.pixelSize: 10
                Accessible.name: source.modelData.title + " device"
                // The chosen device, which the box does not read out itself in this Qt; the style's
                // text field inside it would read as a second, unnamed field.
                Accessible.description: displayText
                Component.onCompleted: if (contentItem) contentItem.Accessible.ignored = true
                readonly property var choices: [{ name: "", description: "Default" }].concat(
                    source.modelData.id === "mic" ? section.audio.inputDevices : section.audio.monitorDevices)
                model: choices.map(function(d) { return d.description })
                currentIndex: Math.max(0, choices.findIndex(function(d) { return d.name === source.modelData.device }))
                onActivated: (i) => section.audio.setDevice(source.modelData.id, choices[i].name)
                onPressedChanged: if (pressed) section.audio.refreshDevices()
            }

            Text {
                objectName: "audioStatus_" + source.modelData.id
                // Announced when the device goes away or comes back.
                Accessible.role: Accessible.StatusBar
                Accessible.name: text
                visible: text !== ""
                width: section.width
                text: source.modelData.state === "missing" ? source.modelData.status : ""
                font.pixelSize: 10
                color: Theme.orange
                wrapMode: Text.WordWrap
            }
        }
    }

    Item {
        width: section.width
        height: Math.max(filtersLabel.implicitHeight, filtersSwitch.implicitHeight)
        Text {
            id: filtersLabel
            anchors.verticalCenter: parent.verticalCenter
            text: "Voice Filters"
            font.pixelSize: 11
            color: Theme.white(0.78)
        }
        PlainToggle {
            id: filtersSwitch
            objectName: "voiceFiltersSwitch"
            readonly property bool on: section.audio.voiceFilters
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: "Voice Filters"
            checked: on
            Accessible.description: "Suppresses the noise around your voice on the microphone"
            padding: 0
            contentItem: Rectangle {
                implicitWidth: 28
                implicitHeight: 16
                radius: 8
                color: filtersSwitch.on ? Theme.pink : Theme.white(0.15)
                Rectangle {
                    x: filtersSwitch.on ? parent.width - width - 2 : 2
                    y: 2
                    width: 12
                    height: 12
                    radius: 6
                    color: "white"
                }
            }
            background: Item {}
            onClicked: section.audio.voiceFilters = !on
        }
    }

    Text {
        objectName: "audioMessage"
        Accessible.role: Accessible.StatusBar
        Accessible.name: text
        visible: text !== ""
        width: section.width
        text: section.audio.message
        font.pixelSize: 10
        color: Theme.orange
        wrapMode: Text.WordWrap
    }
}
