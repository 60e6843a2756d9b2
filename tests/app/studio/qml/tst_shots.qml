import QtQuick
import QtTest
import Vantry.Studio
import VantryNative

// The shots deck: saving the picture, recalling with a click or the keys 1-9 (not while a text
// field has the keyboard), renaming, reordering and deleting from the keyboard.
Item {
    id: top
    width: 1180
    height: 1000

    Component {
        id: viewComponent
        VantryMainView {
            anchors.fill: parent
            staticViewportOverride: rig.stillImage
        }
    }

    TestCase {
        name: "ShotsStrip"
        when: windowShown

        property var vm
        property var view

        function init() {
            vm = rig.newViewModel()
            // The shots file of an earlier test is in the same config folder.
            while (vm.shots.count > 0) vm.shots.removeShot(0)
            view = createTemporaryObject(viewComponent, top, { vm: vm })
            verify(view !== null)
            waitForRendering(view)
        }

        function item(name) {
            const found = findChild(view, name)
            verify(found !== null, "no item " + name)
            return found
        }

        // Saves the picture at `angle` with the deck's button, from the keyboard (two clicks on
        // one spot in quick succession would be a double click).
        function saveAt(angle) {
            vm.cameraAngle = angle
            vm.sync()
            item("saveShotButton").forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Space)
        }

        // Clicks a tile once it is in the sidebar's view (the sidebar scrolls to the focused control),
        // half a second after anything before: a press within the double-click interval of the
        // last one (a tile's in this test or the test before) is a double click and recalls nothing.
        function clickTile(index) {
            const tile = item("shotTile_" + index)
            tile.forceActiveFocus(Qt.TabFocusReason)
            waitForRendering(view)
            mouseClick(tile, tile.width / 2, tile.height / 2, Qt.LeftButton, Qt.NoModifier, 500)
        }

        function names() {
            const list = []
            for (let i = 0; i < vm.shots.count; ++i) list.push(vm.shots.shotJson(i).name)
            return list
        }

        // A damaged file set aside is told until the user dismisses it, whatever else is said.
        function test_a_damaged_file_is_noticed_until_dismissed() {
            view.destroy()  // the view of init() goes before its view model does
            wait(0)
            rig.damageShotsFile()
            vm = rig.newViewModel()
            view = createTemporaryObject(viewComponent, top, { vm: vm })
            waitForRendering(view)
            const notice = item("shotsNotice")
            verify(notice.visible)
            verify(item("shotsNoticeText").text.indexOf("damaged") >= 0, item("shotsNoticeText").text)
            saveAt(1)
            compare(item("bannerText").text, "Saved shot 1 \u201cShot 1\u201d on key 1")
            verify(notice.visible, "the banner moved on; the notice stays")
            const dismiss = item("shotsNoticeDismiss")
            dismiss.forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Space)
            verify(!notice.visible)
            compare(vm.shots.notice, "")
        }

        function test_save_and_recall_with_a_click_and_the_keys() {
            saveAt(2)
            saveAt(3)
            compare(vm.shots.count, 2)
            compare(findChild(item("shotTile_2"), "shotName").text, "Shot 2")
            compare(item("bannerText").text, "Saved shot 2 \u201cShot 2\u201d on key 2")

            const keys = [
                { key: Qt.Key_1, angle: 2 },
                { key: Qt.Key_2, angle: 3 },
                { key: Qt.Key_5, angle: 3 },  // no shot 5: nothing happens
                { key: Qt.Key_1, angle: 2 },
            ]
            for (const k of keys) {
                keyClick(k.key)
                compare(vm.cameraAngle, k.angle, "after key " + k.key)
                compare(rig.rendererAngle(), k.angle, "renderer after key " + k.key)
            }
            compare(vm.shots.lastRecalled, 0)
            compare(item("bannerText").text, "Recalled shot 1 \u201cShot 1\u201d")

            vm.cameraAngle = 0
            vm.sync()
            clickTile(2)
            compare(vm.cameraAngle, 3)
        }

        function test_digits_typed_into_a_text_field_stay_text() {
            saveAt(1)
            saveAt(2)
            clickTile(1)
            compare(vm.cameraAngle, 1)
            const field = item("shotNameField")
            field.forceActiveFocus()
            field.selectAll()
            keyClick(Qt.Key_2)
            keyClick(Qt.Key_B)
            compare(vm.cameraAngle, 1, "key 2 typed into the name field recalls nothing")
            keyClick(Qt.Key_Return)
            compare(names(), ["2b", "Shot 2"])
        }

        function test_reorder_transition_and_delete_from_the_keyboard() {
            saveAt(0)
            saveAt(1)
            saveAt(2)
            clickTile(1)
            const later = item("shotLaterButton")
            later.forceActiveFocus(Qt.TabFocusReason)
            verify(findChild(later, "focusRing").visible)
            keyClick(Qt.Key_Space)
            compare(names(), ["Shot 2", "Shot 1", "Shot 3"])
            keyClick(Qt.Key_Return)
            compare(names(), ["Shot 2", "Shot 3", "Shot 1"])
            // Shot 1 now sits on key 3.
            vm.cameraAngle = 3
            vm.sync()
            keyClick(Qt.Key_3)
            compare(vm.cameraAngle, 0)

            const cut = item("shotCutButton")
            cut.forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Space)
            compare(vm.shots.shotJson(2).transition, "cut")
            const move = item("shotMoveButton")
            move.forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Space)
            keyClick(Qt.Key_Space)
            compare(vm.shots.shotJson(2).transition, "move")
            compare(vm.shots.shotJson(2).moveSeconds, 1.5)

            item("shotDeleteButton").forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Space)
            compare(names(), ["Shot 2", "Shot 3"])
        }

        function test_the_deck_is_full_at_nine() {
            for (let i = 0; i < 9; ++i) saveAt(i % 4)
            compare(vm.shots.full, true)
            compare(item("saveShotButton").enabled, false)
            verify(findChild(view, "shotTile_9") !== null)
        }
    }
}
