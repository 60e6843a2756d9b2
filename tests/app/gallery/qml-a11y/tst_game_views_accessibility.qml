import QtQuick
import QtTest
import Vantry.Game
import Vantry.GameNative
import "../../../support/AccessibilityChecks.js" as Checks

// The gallery's game views as a screen reader reads them and as a keyboard user walks them.
Item {
    id: top
    width: 900
    height: 700

    Component { id: sheetPage; SheetPage { anchors.fill: parent } }
    Component { id: toastPage; KillToastPage { anchors.fill: parent } }
    Component { id: voicePage; VoiceBarPage { anchors.fill: parent } }

    TestCase {
        id: testCase
        name: "GameViewsAccessibility"
        when: windowShown

        // The role each kind of control must have, by object name; others are push buttons.
        readonly property var expectedRoles: [
            { pattern: /^(segmentCoop|segmentMaps)$/, role: "PageTab", checkable: true },
            { pattern: /ScrollBar$/, role: "ScrollBar", checkable: false },
            { pattern: /Switch$|Toggle$/, role: "CheckBox", checkable: true },
            { pattern: /^voiceButton$/, role: "CheckBox", checkable: true },
            { pattern: /Field$/, role: "EditableText", checkable: false },
        ]

        function initTestCase() {
            tryVerify(() => a11y.active(), 5000, "accessibility is on (the AT-SPI bus is up)")
        }

        function init() { GameUi.ugc.clearDeployedMap() }

        function pages_data() {
            return [
                { tag: "squad sheet, co-op tab", page: sheetPage, props: { initialTab: 0 } },
                { tag: "squad sheet, maps tab", page: sheetPage, props: { initialTab: 1 } },
                { tag: "voice bar", page: voicePage, props: {} },
                { tag: "kill toast", page: toastPage, props: {} },
            ]
        }

        function makePage(data) {
            const page = createTemporaryObject(data.page, top, data.props)
            verify(page !== null)
            waitForRendering(page)
            return page
        }

        function test_everyControlIsNamedWithItsRole_data() { return pages_data() }
        function test_everyControlIsNamedWithItsRole(data) {
            const page = makePage(data)
            const counted = {}
            const faults = Checks.controlFaults(a11y.tree(page), expectedRoles, counted)
            verify(faults.length === 0, faults.length + " of " + counted.controls + " controls:\n" + faults.join("\n"))
            verify(counted.controls >= 1, "the reader sees " + counted.controls + " controls")
        }

        // Tab walks every control round and back; an open sheet keeps the keyboard until Escape
        // closes it, and the keyboard then goes on in the page.
        function test_tabWalksRound_data() { return pages_data() }
        function test_tabWalksRound(data) {
            const page = makePage(data)
            const window = page.Window.window
            let stops = Checks.tabStops(a11y.tree(page))
            if (data.page === sheetPage) {
                const sheet = page.sheetLoader.item
                stops = stops.filter(function(n) {
                    for (let p = n.object; p; p = p.parent) if (p === sheet) return true
                    return false
                })
            }
            verify(stops.length >= 1, "no stops")
            stops[0].object.forceActiveFocus(Qt.TabFocusReason)
            for (let i = 1; i <= stops.length; ++i) {
                keyClick(Qt.Key_Tab)
                verify(window.activeFocusItem === stops[i % stops.length].object,
                       "stop " + i + ": " + Checks.describe(stops[i % stops.length]) + " wanted, focus is on "
                       + window.activeFocusItem + " (" + (window.activeFocusItem ? window.activeFocusItem.objectName : "") + ")")
            }
            for (let i = stops.length - 1; i >= 0; --i) {
                keyClick(Qt.Key_Tab, Qt.ShiftModifier)
                verify(window.activeFocusItem === stops[i].object, "back to " + Checks.describe(stops[i]))
            }
            if (data.page === sheetPage) {
                keyClick(Qt.Key_Escape)
                verify(!page.sheetOpen, "Escape closes the sheet")
                verify(findChild(page, "openSheetButton").activeFocus, "the keyboard is back on the page")
            }
        }

        // The kill toast's callout is announced as it appears.
        function test_killToastIsAnnounced() {
            const page = makePage({ page: toastPage, props: {} })
            a11y.recordAnnouncements()
            mouseClick(findChild(page, "hideButton"))
            mouseClick(findChild(page, "showPlainButton"))
            const toast = findChild(page, "killToast")
            const heard = a11y.announcedNames(toast)
            verify(heard.length >= 1 && heard[heard.length - 1].indexOf("TRIPLE KILL") >= 0,
                   "heard: " + JSON.stringify(heard))
        }
    }
}
