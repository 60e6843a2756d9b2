import QtQuick
import QtTest
import Vantry.Game
import Vantry.GameNative

Item {
    id: top
    width: 400
    height: 120

    TestCase {
        id: testCase
        name: "VoiceBar"
        when: windowShown

        Component { id: barComponent; OruFriendslopVoiceBarV1020 {} }

        // A lobby with hand-set levels, for the dot rules alone.
        Component {
            id: fakeLobby
            QtObject {
                property string roomCode: "TEST-1000"
                property bool isProximityVoiceEnabled: true
                property var speakers: []
            }
        }

        function makeBar(lobby) {
            return createTemporaryObject(barComponent, top, { lobby: lobby })
        }

        function dot(bar, id) {
            const d = findChild(bar, "speakerDot_" + id)
            verify(d, "dot " + id)
            return d
        }

        function speaker(id, level, muted) {
            return { id: id, displayName: id, voiceActivityLevel: level, isMuted: muted, isLocalPlayer: false }
        }

        function test_roomCodeFormAndBounds() {
            const lobby = GameUi.createLobby("GRIM", "Me")
            const bar = makeBar(lobby)
            const codeText = findChild(bar, "roomCodeText")
            compare(codeText.text, lobby.roomCode)
            for (let i = 0; i < 300; ++i) {
                const match = /^GRIM-(\d{4})$/.exec(lobby.roomCode)
                verify(match, lobby.roomCode)
                const n = Number(match[1])
                verify(n >= 1000 && n <= 9999, lobby.roomCode)
                lobby.regenerateRoomCode("GRIM")
            }
            compare(lobby.connectionBanner, "New 4P Room " + lobby.roomCode + " Open!")
            lobby.regenerateRoomCode("NYC")
            verify(/^NYC-\d{4}$/.test(codeText.text), codeText.text)
            compare(lobby.connectionBanner, "New 4P Room " + codeText.text + " Open!")
        }

        function test_initialSpeakersAtTimeZero() {
            const lobby = GameUi.createLobby("GRIM", "Me")
            compare(lobby.connectionBanner, "4P Drop-In Ready · Spatial Voice ON")
            lobby.isProximityVoiceEnabled = false
            compare(lobby.connectionBanner, "4P Drop-In Ready · Spatial Voice OFF")
            lobby.isProximityVoiceEnabled = true
            compare(lobby.connectionBanner, "4P Drop-In Ready · Spatial Voice ON")
            compare(lobby.speakers.map(s => s.id), ["p1", "p2", "p3", "p4"])
            compare(lobby.speakers[0].displayName, "Me")
            const bar = makeBar(lobby)
            lobby.pulseSimulatedChatter(0)
            const levels = lobby.speakers.map(s => s.voiceActivityLevel)
            fuzzyCompare(levels[0], 0.18, 1e-6)
            fuzzyCompare(levels[1], (Math.sin(2.1) - 0.55) * 2.1, 1e-5)
            fuzzyCompare(levels[2], 0.04, 1e-6)
            fuzzyCompare(levels[3], 0.04, 1e-6)
            // Only Vox (0.658) is above the speaking threshold.
            compare(dot(bar, "p2").state_, "speaking")
            for (const id of ["p1", "p3", "p4"]) compare(dot(bar, id).state_, "idle")
        }

        function test_dotLooks_data() {
            return [
                { tag: "exactly 0.2 is not speaking", level: 0.2, muted: false, voice: true, state: "idle" },
                { tag: "just above 0.2 speaks", level: 0.2001, muted: false, voice: true, state: "speaking" },
                { tag: "muted", level: 0.9, muted: true, voice: true, state: "muted" },
                { tag: "voice off", level: 0.9, muted: false, voice: false, state: "idle" },
            ]
        }

        function test_dotLooks(data) {
            const lobby = createTemporaryObject(fakeLobby, top,
                                                { isProximityVoiceEnabled: data.voice,
                                                  speakers: [speaker("a", data.level, data.muted)] })
            const d = dot(makeBar(lobby), "a")
            compare(d.state_, data.state)
            const colours = { speaking: GamePalette.green,
                              muted: GamePalette.withOpacity(GamePalette.red, 0.6),
                              idle: Qt.rgba(1, 1, 1, 0.25) }
            verify(Qt.colorEqual(d.fill.color, colours[data.state]), String(d.fill.color))
            compare(d.ring.opacity, data.state === "speaking" ? 0.9 : 0)
            compare(d.ring.scale, data.state === "speaking" ? 1.55 : 1.0)
            compare(d.width, 9)
        }

        function test_muteAndVoiceSwitchZeroLevelsOnNextPulse() {
            const lobby = GameUi.createLobby("GRIM", "Me")
            const bar = makeBar(lobby)
            lobby.toggleMute("p2")
            fuzzyCompare(lobby.speakers[1].voiceActivityLevel, 0.42, 1e-6)  // unchanged until the pulse
            lobby.pulseSimulatedChatter(0)
            compare(lobby.speakers[1].voiceActivityLevel, 0)
            compare(dot(bar, "p2").state_, "muted")
            lobby.toggleMute("p2")
            lobby.pulseSimulatedChatter(0)
            verify(lobby.speakers[1].voiceActivityLevel > 0.6)
            lobby.toggleMute("nobody")
            compare(lobby.speakers.filter(s => s.isMuted).length, 0)

            lobby.isMicLive = false
            lobby.pulseSimulatedChatter(0)
            compare(lobby.speakers[0].voiceActivityLevel, 0)
            verify(lobby.speakers[1].voiceActivityLevel > 0)

            const button = findChild(bar, "voiceButton")
            compare(button.label, "3D Voice")
            compare(button.symbol, "waveform.circle.fill")
            mouseClick(button)
            compare(lobby.isProximityVoiceEnabled, false)
            compare(button.label, "Voice Off")
            compare(button.symbol, "speaker.slash.fill")
            verify(Qt.colorEqual(button.tint, GamePalette.secondary))
            compare(dot(bar, "p2").state_, "idle")  // a level above 0.2 no longer speaks
            lobby.pulseSimulatedChatter(0)
            compare(lobby.speakers.map(s => s.voiceActivityLevel), [0, 0, 0, 0])
            mouseClick(button)
            compare(lobby.isProximityVoiceEnabled, true)
        }
    }
}
