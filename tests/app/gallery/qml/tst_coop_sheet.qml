import QtQuick
import QtTest
import Vantry.Game
import Vantry.GameNative

Item {
    id: top
    width: 600
    height: 700

    TestCase {
        id: testCase
        name: "CoopAndUGCSheet"
        when: windowShown

        Component { id: sheetComponent; OruGrimfallCoopAndUGCSheetV1175 {} }
        SignalSpy { id: deploySpy; signalName: "deployMap" }
        SignalSpy { id: dismissSpy; signalName: "dismiss" }

        // A co-op manager with hand-set squadmates, for the row looks alone.
        Component {
            id: fakeCoop
            QtObject {
                property bool isSessionActive: false
                property bool isVoiceMicEnabled: false
                property string statusText: "Offline"
                property var remoteAvatars: []
                property var gameCenterPlayerName: null
            }
        }

        readonly property QtObject coop: GameUi.coop
        readonly property QtObject ugc: GameUi.ugc

        function init() {
            peerCoop.stopCoopLobby()
            coop.stopCoopLobby()
            ugc.clearDeployedMap()
            deploySpy.clear()
            dismissSpy.clear()
        }

        function makeSheet(props) {
            const sheet = createTemporaryObject(sheetComponent, top, props || {})
            deploySpy.target = sheet
            dismissSpy.target = sheet
            waitForRendering(sheet)
            return sheet
        }

        function label(button) { return findChild(button, "label").text }

        function test_freshSheetStartsOnTheCoopTabWithTheDefaultRoom() {
            const sheet = makeSheet()
            compare(sheet.coop, coop)
            compare(sheet.ugc, ugc)
            compare(sheet.selectedTab, 0)
            compare(findChild(sheet, "roomField").text, "NYC-6AVE")
            compare(findChild(sheet, "roomField").placeholderText, "Room Code")
            compare(findChild(sheet, "coopHeader").text, "4-PLAYER WARTHOG CONVOY · ZERO-CONFIG LAN & WI-FI")
            compare(findChild(sheet, "coopStatus").text, "Offline · Ready for LAN / Wi-Fi 4P Convoy")
            compare(findChild(sheet, "localPlayerName").text, "You (Squad Leader)")
            verify(findChild(sheet, "coopTab").visible)
            verify(!findChild(sheet, "mapsTab").visible)
            verify(sheet.width >= 520 && sheet.height >= 460, sheet.width + "x" + sheet.height)
            mouseClick(findChild(sheet, "doneButton"))
            compare(dismissSpy.count, 1)
        }

        function test_squadHeaderCountsTheBots() {
            const sheet = makeSheet()
            const header = findChild(sheet, "squadHeader")
            compare(header.text, "ACTIVE SQUADMATES (1/4)")
            mouseClick(findChild(sheet, "botButton"))
            compare(header.text, "ACTIVE SQUADMATES (3/4)")
            const gunner = findChild(sheet, "avatarRow_convoy_sim_gunner")
            const hauler = findChild(sheet, "avatarRow_convoy_sim_hauler")
            compare(findChild(gunner, "avatarCallsign").text, "VIPER-M134")
            compare(findChild(gunner, "locationBadge").text, "WARTHOG SEAT 1")
            compare(findChild(gunner, "avatarSymbol").symbol, "person.fill")
            compare(findChild(hauler, "locationBadge").text, "6TH AVE")
            compare(findChild(hauler, "avatarSymbol").symbol, "bolt.circle.fill")
            verify(Qt.colorEqual(findChild(hauler, "avatarSymbol").color, GamePalette.cyan))
            mouseClick(findChild(sheet, "botButton"))
            compare(header.text, "ACTIVE SQUADMATES (1/4)")
        }

        function test_locationBadges_data() {
            return [
                { tag: "seat 1", indoors: false, seat: 1, badge: "WARTHOG SEAT 1" },
                { tag: "seat 0", indoors: false, seat: 0, badge: "WARTHOG SEAT 0" },
                { tag: "on foot", indoors: false, seat: -1, badge: "6TH AVE" },
                { tag: "in the hospital, seated", indoors: true, seat: 2, badge: "MERCY LOBBY" },
                { tag: "in the hospital, on foot", indoors: true, seat: -1, badge: "MERCY LOBBY" },
            ]
        }

        function test_locationBadges(data) {
            const avatar = { id: "peer", callsign: "RAVEN", carryingConEdCore: false,
                             inWarthogSeat: data.seat, isIndoorsMercy: data.indoors }
            const fake = createTemporaryObject(fakeCoop, top,
                                               { remoteAvatars: [avatar], gameCenterPlayerName: "Corvella" })
            const sheet = makeSheet({ coop: fake })
            compare(findChild(findChild(sheet, "avatarRow_peer"), "locationBadge").text, data.badge)
            compare(findChild(sheet, "squadHeader").text, "ACTIVE SQUADMATES (2/4)")
            compare(findChild(sheet, "localPlayerName").text, "Corvella")
        }

        function test_roomButtonFollowsTheSession() {
            const sheet = makeSheet()
            const button = findChild(sheet, "roomButton")
            const field = findChild(sheet, "roomField")
            compare(label(button), "Host / Join Room")
            verify(Qt.colorEqual(button.tint, GamePalette.cyan))
            field.forceActiveFocus()
            field.selectAll()
            keyClick(Qt.Key_Delete)
            for (const key of ["a", "b", Qt.Key_Minus, "1", "2"]) keyClick(key)
            compare(sheet.roomInput, "ab-12")
            mouseClick(button)
            compare(coop.isSessionActive, true)
            compare(coop.roomCode, "AB-12")
            compare(label(button), "Stop Lobby")
            verify(Qt.colorEqual(button.tint, GamePalette.red))
            compare(findChild(sheet, "coopStatus").text, "Broadcasting Room AB-12 · Searching Mac & iPad Squadmates…")
            mouseClick(button)
            compare(coop.isSessionActive, false)
            compare(label(button), "Host / Join Room")
            // The session lives outside the sheet: a new sheet shows it as it is.
            coop.startCoopLobby("NYC-6AVE")
            compare(label(findChild(makeSheet(), "roomButton")), "Stop Lobby")
        }

        function test_voiceSwitchStartsASessionAndFollowsTheManager() {
            const sheet = makeSheet()
            const toggle = findChild(sheet, "voiceSwitch")
            const symbol = findChild(sheet, "voiceSwitchSymbol")
            compare(toggle.checked, false)
            compare(symbol.symbol, "mic.slash.fill")
            mouseClick(toggle)
            compare(coop.isVoiceMicEnabled, true)
            compare(coop.isSessionActive, true)
            compare(toggle.checked, true)
            compare(symbol.symbol, "mic.fill")
            compare(findChild(sheet, "coopStatus").text, "3D Proximity Voice LIVE · Room " + coop.roomCode + " (0 peers)")
            coop.stopCoopLobby()
            compare(toggle.checked, false)  // still bound after the click
            compare(symbol.symbol, "mic.slash.fill")
        }

        function test_voiceSwitchIsRingedAndSpaceOrEnterToggles() {
            const toggle = findChild(makeSheet(), "voiceSwitch")
            const ring = findChild(toggle, "focusRing")
            verify(!ring.visible)
            toggle.forceActiveFocus(Qt.TabFocusReason)
            verify(ring.visible, "the focused switch rings its track")
            compare(toggle.Accessible.name, "3D Spatial Proximity Voice")
            keyClick(Qt.Key_Space)
            compare(coop.isVoiceMicEnabled, true)
            compare(toggle.checked, true)
            keyClick(Qt.Key_Return)
            compare(coop.isVoiceMicEnabled, false)
            compare(toggle.checked, false)
            keyClick(Qt.Key_Enter)
            compare(coop.isVoiceMicEnabled, true)
        }

        function test_roomFieldIsRingedWhileItHoldsTheCaret() {
            const field = findChild(makeSheet(), "roomField")
            verify(!findChild(field, "focusRing").visible)
            field.forceActiveFocus(Qt.MouseFocusReason)
            verify(findChild(field, "focusRing").visible)
        }

        function test_squadmateFromTheLoopbackPeer() {
            const sheet = makeSheet()
            coop.startCoopLobby("LOOP-7")
            peerCoop.startCoopLobby("loop-7")
            tryVerify(() => coop.connectedPeerNames.length === 1, 15000)
            tryCompare(findChild(sheet, "coopStatus"), "text", "CONNECTED: RAVEN-PEER · 3D Proximity Active!")
            // Its state packets make a squadmate row; inside the hospital it reads MERCY LOBBY.
            tryVerify(() => {
                peerCoop.broadcastLocalState(1, 0, -20, 0, true, true, 2)
                return findChild(sheet, "avatarRow_RAVEN-PEER") !== null
            }, 15000)
            const row = findChild(sheet, "avatarRow_RAVEN-PEER")
            compare(findChild(sheet, "squadHeader").text, "ACTIVE SQUADMATES (2/4)")
            compare(findChild(row, "locationBadge").text, "MERCY LOBBY")
            compare(findChild(row, "avatarSymbol").symbol, "bolt.circle.fill")
            mouseClick(findChild(sheet, "botButton"))
            compare(findChild(sheet, "squadHeader").text, "ACTIVE SQUADMATES (4/4)")
            mouseClick(findChild(sheet, "roomButton"))
            compare(findChild(sheet, "squadHeader").text, "ACTIVE SQUADMATES (1/4)")
        }

        function test_deployAndClear() {
            const sheet = makeSheet()
            mouseClick(findChild(sheet, "segmentMaps"))
            compare(sheet.selectedTab, 1)
            verify(findChild(sheet, "mapsTab").visible)
            const card = findChild(sheet, "mapCard_flagship_6th_ave_mercy_siege")
            verify(card)
            compare(findChild(card, "mapTitle").text, "6th Ave Mercy Hospital Siege")
            compare(findChild(card, "mapCaption").text, "Midtown 6th Ave · by CORVELLA-HQ · 4 tactical props")
            compare(findChild(card, "likesText").text, "412")
            verify(findChild(card, "cloudKitLabel").visible)
            const deploy = findChild(card, "deployButton")
            const clear = findChild(sheet, "clearButton")
            compare(label(deploy), "Deploy Live on 6th Ave")
            verify(!clear.visible)

            mouseClick(deploy)
            compare(label(deploy), "Active on 6th Ave ✓")
            verify(Qt.colorEqual(deploy.tint, GamePalette.green))
            verify(clear.visible)
            compare(deploySpy.count, 1)
            compare(deploySpy.signalArguments[0][0].id, "flagship_6th_ave_mercy_siege")
            compare(findChild(sheet, "mapsStatus").text,
                    "Deployed '6th Ave Mercy Hospital Siege' (4 live props on 6th Ave)")
            const other = findChild(findChild(sheet, "mapCard_flagship_squall_killbox"), "deployButton")
            compare(label(other), "Deploy Live on 6th Ave")

            mouseClick(deploy)  // deploying the active map again is told again
            compare(deploySpy.count, 2)

            mouseClick(clear)
            compare(label(deploy), "Deploy Live on 6th Ave")
            verify(!clear.visible)
            compare(findChild(sheet, "mapsStatus").text, "Cleared custom UGC props")
        }
    }
}
