import QtQuick
import QtQuick.Controls
import QtTest
import Vantry.Studio
import VantryNative

// A deck on the LED wall: its "‹ 3 / 12 ›" buttons and the clicker keys step it and stop at its
// ends; a text field or a slider with the focus keeps its keys.
Item {
    id: top
    width: 1180
    height: 740

    Component {
        id: viewComponent
        VantryMainView {
            anchors.fill: parent
            staticViewportOverride: rig.stillImage
        }
    }

    TestCase {
        name: "WallDeck"
        when: windowShown

        property var vm
        property var view

        function init() {
            vm = rig.newViewModel()
            view = createTemporaryObject(viewComponent, top, { vm: vm })
            verify(view !== null)
            waitForRendering(view)
        }

        function item(name) {
            const found = findChild(view, name)
            verify(found !== null, "no item " + name)
            return found
        }

        function showsPage(page) {
            compare(vm.slidePage, page)
            compare(item("slideCounter").text, page + " / 3")
            tryVerify(function() { return rig.wallShowsPage(page) }, 5000, "the wall shows page " + page)
        }

        function mountDeck() {
            rig.answerNextPanel(rig.makeDeck(3))
            vm.loadSlidePanel()
            compare(vm.wallKind, "pdf")
            verify(item("slideStepper").visible)
            showsPage(1)
        }

        function test_buttonsStepAndStopAtTheEnds() {
            verify(!item("slideStepper").visible, "no steps without a deck")
            mountDeck()
            const previous = item("previousSlideButton")
            const next = item("nextSlideButton")
            verify(!previous.enabled)
            mouseClick(next)
            showsPage(2)
            mouseClick(next)
            showsPage(3)
            verify(!next.enabled)
            mouseClick(next)
            showsPage(3)
            mouseClick(previous)
            showsPage(2)
        }

        function test_clickerKeysStepAndStopAtTheEnds() {
            mountDeck()
            item("loadSlideButton").forceActiveFocus(Qt.MouseFocusReason)
            const steps = [
                [Qt.Key_PageDown, 2], [Qt.Key_PageDown, 3], [Qt.Key_PageDown, 3], [Qt.Key_PageUp, 2],
                [Qt.Key_Home, 1], [Qt.Key_Left, 1], [Qt.Key_End, 3], [Qt.Key_Left, 2], [Qt.Key_Right, 3],
                [Qt.Key_Backspace, 2], [Qt.Key_P, 1], [Qt.Key_N, 2],
            ]
            for (const [key, page] of steps) {
                keyClick(key)
                showsPage(page)
            }
            // Space steps too, unless a button holds the focus: then it presses the button.
            view.forceActiveFocus()
            keyClick(Qt.Key_Space)
            showsPage(3)
        }

        function test_aFocusedTextFieldOrSliderKeepsItsKeys() {
            mountDeck()
            const url = item("goLiveUrl")
            url.forceActiveFocus(Qt.MouseFocusReason)
            for (const key of [Qt.Key_Right, Qt.Key_N, Qt.Key_Space, Qt.Key_PageDown, Qt.Key_End])
                keyClick(key)
            compare(vm.slidePage, 1, "typing never steps the deck")
            const slider = findChild(item("keyLightRow"), "slider")
            slider.forceActiveFocus(Qt.TabFocusReason)
            const gain = vm.keyGain
            keyClick(Qt.Key_Right)
            compare(vm.slidePage, 1)
            fuzzyCompare(vm.keyGain, gain + 0.1, 1e-5)
            keyClick(Qt.Key_N)
            showsPage(2)
        }

        function test_shareScreenOffersTheScreenAndEachWindowUntilStopped() {
            const button = item("shareScreenButton")
            compare(button.text, "Share Screen")
            mouseClick(button)
            const picker = findChild(view, "sharePicker")
            tryVerify(function() { return picker.opened })
            compare(findChild(picker.contentItem, "shareChoice_0").text, "Entire screen")
            compare(findChild(picker.contentItem, "shareChoice_2").text, "Terminal")
            const choice = findChild(picker.contentItem, "shareChoice_1")
            // The list is laid out with the next frame.
            tryVerify(function() { return choice.y > 0 })
            mouseClick(choice)
            tryVerify(function() { return !picker.visible })
            verify(vm.screenSharing)
            compare(rig.sharedWindowId(), 0x2c00007)
            compare(vm.wallKind, "screen")
            compare(item("mountedLine").text, "Mounted: Quarterly Review - Slides")
            compare(button.text, "Stop Sharing")
            mouseClick(button)
            verify(!vm.screenSharing)
            verify(!rig.shareRunning())
            compare(vm.wallKind, "builtIn")
            compare(button.text, "Share Screen")
        }
    }
}
