import QtQuick
import QtTest
import Vantry.Game
import Vantry.GameNative

Item {
    id: top
    width: 800
    height: 700

    TestCase {
        id: testCase
        name: "GalleryPages"
        when: windowShown

        Component { id: sheetPage; SheetPage { anchors.fill: parent } }
        Component { id: toastPage; KillToastPage { anchors.fill: parent } }
        Component { id: voicePage; VoiceBarPage { anchors.fill: parent } }

        function init() { GameUi.ugc.clearDeployedMap() }

        function test_deployShowsTheMapBehindTheSheetAndDoneClosesIt() {
            const page = createTemporaryObject(sheetPage, top, { initialTab: 1 })
            verify(page.sheetOpen)
            const sheet = page.sheetLoader.item
            compare(sheet.selectedTab, 1)
            mouseClick(findChild(findChild(sheet, "mapCard_flagship_coned_blackout_gauntlet"), "deployButton"))
            mouseClick(findChild(sheet, "doneButton"))
            verify(!page.sheetOpen)
            compare(findChild(page, "deployedLabel").text, "Deployed: ConEd Blackout Convoy Gauntlet · 3 props")
            // Closing the sheet keeps the map deployed; a reopened sheet starts on its first tab state.
            compare(GameUi.ugc.activeDeployedMapID, "flagship_coned_blackout_gauntlet")
            mouseClick(findChild(page, "openSheetButton"))
            compare(page.sheetLoader.item.roomInput, "NYC-6AVE")
        }

        function test_keyboardOpensWalksAndEscapeClosesTheSheet() {
            const page = createTemporaryObject(sheetPage, top)
            const done = findChild(page.sheetLoader.item, "doneButton")
            done.forceActiveFocus(Qt.TabFocusReason)
            verify(findChild(done, "focusRing").visible, "the focused button shows its ring")
            keyClick(Qt.Key_Escape)
            verify(!page.sheetOpen)
            const open = findChild(page, "openSheetButton")
            verify(open.activeFocus)
            keyClick(Qt.Key_Return)
            verify(page.sheetOpen, "Enter presses the focused button")
            keyClick(Qt.Key_Escape)
            verify(!page.sheetOpen)
            keyClick(Qt.Key_Space)
            verify(page.sheetOpen, "and so does Space")
        }

        function test_toastButtons() {
            const page = createTemporaryObject(toastPage, top)
            const toast = findChild(page, "killToast")
            compare(toast.callout, "TRIPLE KILL")
            compare(toast.clipBookmarked, true)
            mouseClick(findChild(page, "showPlainButton"))
            compare(toast.clipBookmarked, false)
            compare(findChild(toast, "toastSymbol").symbol, "scope")
            mouseClick(findChild(page, "hideButton"))
            verify(!toast.shown)
            tryCompare(toast.capsule, "visible", false)
            mouseClick(findChild(page, "showClipButton"))
            tryCompare(toast.capsule, "opacity", 1)
            compare(findChild(toast, "clipReadyTag").visible, true)
        }

        function test_voiceBarPageRunsTheChatterClockAndNewRoomButton() {
            const page = createTemporaryObject(voicePage, top)
            const lobby = page.lobby
            verify(/^GRIM-\d{4}$/.test(lobby.roomCode))
            // The clock has pulsed: the local player's level follows the formula (>= 0.18).
            tryVerify(() => lobby.speakers[0].voiceActivityLevel >= 0.18 && lobby.speakers[2].voiceActivityLevel !== 0.12)
            mouseClick(findChild(page, "newRoomButton"))
            compare(findChild(page, "connectionBanner").text, "New 4P Room " + lobby.roomCode + " Open!")
        }
    }
}
