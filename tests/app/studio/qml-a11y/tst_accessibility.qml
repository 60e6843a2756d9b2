import QtQuick
import QtTest
import Vantry.Studio
import "../../../support/AccessibilityChecks.js" as Checks

// The studio window as a screen reader reads it (Qt's accessible interfaces from the window
// down) and as a keyboard user walks it with Tab.
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
        id: testCase
        name: "StudioAccessibility"
        when: windowShown

        property var vm
        property var view

        // The role each kind of control must have, by its object name; a control not listed is a
        // push button. `checkable`: it must say that it can be checked, and whether it is.
        readonly property var expectedRoles: [
            { pattern: /^camera_\d$/, role: "PageTab", checkable: true },
            { pattern: /^setCard_/, role: "RadioButton", checkable: true },
            { pattern: /^(floatButton|standInSetButton)$/, role: "RadioButton", checkable: true },
            { pattern: /^choice_/, role: "RadioButton", checkable: true },
            { pattern: /^(shotCutButton|shotMoveButton)$/, role: "RadioButton", checkable: true },
            { pattern: /^(visionCutoutButton|refineEdgesButton|colourMatchButton|virtualCameraSwitch|remoteSwitch|goLiveEnabled\d*)$/,
              role: "CheckBox", checkable: true },
            { pattern: /^(audioMute_.*|voiceFiltersSwitch)$/, role: "CheckBox", checkable: true },
            { pattern: /^audioDevice_/, role: "ComboBox", checkable: false },
            { pattern: /^slider$/, role: "Slider", checkable: false },
            { pattern: /ScrollBar$/, role: "ScrollBar", checkable: false },
            { pattern: /^(goLiveUrl\d*|goLiveKey\d*|shotNameField|virtualCameraHint)$/, role: "EditableText",
              checkable: false },
        ]
        // Controls whose name alone does not say what happens: they carry a description too.
        readonly property var described: ["visionCutoutButton", "refineEdgesButton", "colourMatchButton", "loadSlideButton",
            "exportButton", "goLiveButton", "virtualCameraSwitch", "saveShotButton", "camera_0",
            "setCard_manhattan-loft", "goLiveEnabled"]

        function initTestCase() {
            tryVerify(() => rig.accessibilityActive(), 5000, "accessibility is on (the AT-SPI bus is up)")
        }

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


        function nodeOf(object) {
            const nodes = rig.accessibleTree(view).filter(function(n) { return n.object === object })
            verify(nodes.length === 1, "the reader sees " + object + " once, not " + nodes.length + " times")
            return nodes[0]
        }

        function test_everyShowingControlIsNamedWithItsRole_data() {
            return [{ tag: "studio", deck: false }, { tag: "deck on the wall", deck: true }]
        }
        function test_everyShowingControlIsNamedWithItsRole(data) {
            if (data.deck) mountDeck()
            const counted = {}
            const faults = Checks.controlFaults(rig.accessibleTree(view), expectedRoles, counted)
            const controls = counted.controls
            verify(faults.length === 0, faults.length + " of " + controls + " controls:\n" + faults.join("\n"))
            verify(controls >= 30, "the reader sees " + controls + " controls")
        }

        function test_namesAreTheWindowsOwnTexts() {
            const names = [
                ["camera_0", "Cam 1 \u00b7 Desk"],
                ["visionCutoutButton", "Vision Cutout"],
                ["refineEdgesButton", "Refine Edges"],
                ["standInSetButton", "Stand in Set"],
                ["colourMatchButton", "Colour Match"],
                ["setCard_manhattan-loft", "Manhattan Skyline Loft"],
                ["loadSlideButton", "Load Slide / Demo Screen..."],
                ["exportButton", "Export 1080p Broadcast MP4..."],
                ["goLiveUrl", "Server URL"],
                ["goLiveKey", "Stream Key"],
                ["goLiveButton", "Go Live"],
                ["virtualCameraSwitch", "Virtual Camera"],
                ["saveShotButton", "Save Current Shot"],
                ["audioMute_mic", "Mute Mic/Aux"],
                ["voiceFiltersSwitch", "Voice Filters"],
                ["audioDevice_mic", "Mic/Aux device"],
            ]
            for (let i = 0; i < names.length; ++i)
                compare(nodeOf(item(names[i][0])).name, names[i][1], names[i][0])
            const key = nodeOf(item("goLiveKey"))
            verify(key.passwordEdit, "the key field says it hides its text")
            compare(nodeOf(findChild(item("keyLightRow"), "slider")).description, "1.35")
            compare(nodeOf(item("audioDevice_mic")).description, "Default")  // the chosen device
            compare(nodeOf(findChild(item("audioGain_desktop"), "slider")).name, "Desktop Audio gain")
            verify(/ dB$/.test(nodeOf(findChild(item("audioGain_desktop"), "slider")).description),
                   "the gain reads with its unit")
            for (let d = 0; d < described.length; ++d)
                verify(nodeOf(item(described[d])).description !== "", described[d] + " says what it does")
            compare(nodeOf(item("exportButton")).description, "Exports a 3-second 1080p clip of the studio")
        }

        // A choice reads as one selected among several; a switch as checked or not, as it is drawn.
        function test_choicesAndSwitchesReadTheirCheckedState() {
            verify(nodeOf(item("camera_0")).checked)
            verify(!nodeOf(item("camera_2")).checked)
            mouseClick(item("camera_2"))
            verify(nodeOf(item("camera_2")).checked)
            verify(!nodeOf(item("camera_0")).checked)
            vm.cameraAngle = 1  // chosen elsewhere (a shot, the remote): the tabs follow
            verify(nodeOf(item("camera_1")).checked)
            verify(!nodeOf(item("camera_2")).checked)
            // The arrow keys move along the tabs and choose.
            item("camera_1").forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Right)
            compare(vm.cameraAngle, 2)
            verify(item("camera_2").activeFocus)
            verify(nodeOf(item("camera_2")).checked)
            keyClick(Qt.Key_Left)
            compare(vm.cameraAngle, 1)

            verify(nodeOf(item("setCard_manhattan-loft")).checked)
            mouseClick(item("setCard_timber-podcast"))
            verify(nodeOf(item("setCard_timber-podcast")).checked)
            verify(!nodeOf(item("setCard_manhattan-loft")).checked)

            verify(!nodeOf(item("visionCutoutButton")).checked)
            mouseClick(item("visionCutoutButton"))
            verify(vm.showVisionPresenter)
            verify(nodeOf(item("visionCutoutButton")).checked)
            vm.showVisionPresenter = false
            verify(!nodeOf(item("visionCutoutButton")).checked)
            vm.showVisionPresenter = true
            verify(nodeOf(item("visionCutoutButton")).checked)
            vm.showVisionPresenter = false
            verify(nodeOf(item("refineEdgesButton")).checked)
            verify(nodeOf(item("floatButton")).checked)
            verify(!nodeOf(item("standInSetButton")).checked)
            verify(nodeOf(item("colourMatchButton")).checked)
            mouseClick(item("colourMatchButton"))
            verify(!vm.colourMatch)
            verify(!nodeOf(item("colourMatchButton")).checked)
            vm.colourMatch = true
            verify(nodeOf(item("colourMatchButton")).checked)
            verify(nodeOf(findChild(item("goLiveSize"), "choice_1280x720")).checked)
            verify(!nodeOf(findChild(item("goLiveSize"), "choice_1920x1080")).checked)
        }

        function mountDeck() {
            rig.answerNextPanel(rig.makeDeck(3))
            vm.loadSlidePanel()
            compare(vm.wallKind, "pdf")
            verify(item("slideStepper").visible)
        }

        // The deck steps from the keyboard and says where it is; the share picker opens with
        // Enter, is walked with Tab and closes with Escape, giving the keyboard back.
        function test_deckAndSharePickerFromTheKeyboard() {
            mountDeck()
            rig.recordAnnouncements()
            const next = item("nextSlideButton")
            next.forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Space)
            compare(vm.slidePage, 2)
            keyClick(Qt.Key_Return)
            compare(vm.slidePage, 3)
            compare(rig.announcedNames(item("slideCounter")), ["Slide 2 / 3", "Slide 3 / 3"])
            compare(nodeOf(item("previousSlideButton")).name, "Previous Slide")

            const share = item("shareScreenButton")
            share.forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Return)
            const picker = findChild(view, "sharePicker")
            tryVerify(function() { return picker.opened })
            const window = view.Window.window
            keyClick(Qt.Key_Tab)
            verify(window.activeFocusItem === findChild(picker.contentItem, "shareChoice_0"),
                   "Tab goes into the picker, not " + window.activeFocusItem)
            compare(nodeOf(findChild(picker.contentItem, "shareChoice_0")).name, "Entire screen")
            keyClick(Qt.Key_Escape)
            tryVerify(function() { return !picker.visible })
            verify(!vm.screenSharing)
            verify(window.activeFocusItem === share, "the keyboard is back on \"Share Screen\", not "
                   + window.activeFocusItem)
        }

        // Status lines are live regions: each change is announced once, as the window shows it.
        function test_statusLinesAnnounceTheirChanges() {
            rig.recordAnnouncements()
            mouseClick(item("setCard_timber-podcast"))
            const banner = item("bannerText")
            compare(nodeOf(banner).role, "StatusBar")
            compare(rig.announcedNames(banner), ["Switched Studio Set: Warm Timber Podcast"])

            const status = item("goLiveStatus")
            compare(nodeOf(status).role, "StatusBar")
            vm.goLive.toggleLive()  // without a URL: says why it does not start
            verify(status.text !== "", "GO LIVE says why")
            compare(rig.announcedNames(status), [status.text])

            rig.answerNextPanel(rig.stillImage.toString().replace("file://", ""))
            mouseClick(item("loadSlideButton"))
            const mounted = item("mountedLine")
            compare(nodeOf(mounted).role, "StatusBar")
            compare(rig.announcedNames(mounted), ["Mounted: still.png"])
        }

        // Export progress is announced in steps of a tenth, however many frames report it.
        function test_exportProgressIsAnnouncedEveryTenth() {
            rig.holdExports()
            rig.reportEveryExportFrame()
            rig.answerNextPanel("/tmp/vantry-qml-test/a11y.mp4")
            rig.recordAnnouncements()
            mouseClick(item("exportButton"))
            tryVerify(() => rig.exportCount() === 1)
            const bar = item("exportProgressBar")
            tryVerify(() => nodeOf(bar).name === "Exporting 1080p Broadcast... 50 %", 5000, nodeOf(bar).name)
            compare(nodeOf(bar).role, "StatusBar")
            // 45 frames of 90 reported one by one: five announcements, not 45.
            compare(rig.announcedNames(bar), ["Exporting 1080p Broadcast... 10 %", "Exporting 1080p Broadcast... 20 %",
                                              "Exporting 1080p Broadcast... 30 %", "Exporting 1080p Broadcast... 40 %",
                                              "Exporting 1080p Broadcast... 50 %"])
            rig.releaseExports()
            tryCompare(item("bannerText"), "text", "Exported 1080p Studio Broadcast (1.5 MB)")
            compare(rig.announcedNames(item("bannerText")), ["Exported 1080p Studio Broadcast (1.5 MB)"])
        }

        function test_tabWalk_data() {
            return [{ tag: "studio", presenter: false }, { tag: "presenter on", presenter: true }]
        }

        // Tab reaches every control the reader sees, in the window's order (header, sets, viewport,
        // lighting), and comes back round to the first; Shift+Tab walks the same stops backwards.
        function test_tabWalk(data) {
            if (data.presenter) {
                vm.showVisionPresenter = true
                waitForRendering(view)
            }
            const stops = Checks.tabStops(rig.accessibleTree(view))
            verify(stops.length >= 25, stops.length + " stops: " + stops.map(Checks.describe).join(", "))
            const sections = ["headerBar", "setSidebar", "viewportArea", "lightingSidebar"]
            function sectionOf(object) {
                for (let s = 0; s < sections.length; ++s) {
                    const section = item(sections[s])
                    for (let p = object; p; p = p.parent)
                        if (p === section) return s
                }
                return -1
            }
            let last = 0
            for (let i = 0; i < stops.length; ++i) {
                const s = sectionOf(stops[i].object)
                verify(s >= last, Checks.describe(stops[i]) + " sits before the section before it")
                last = s
            }

            stops[0].object.forceActiveFocus(Qt.TabFocusReason)
            const window = view.Window.window
            for (let i = 1; i <= stops.length; ++i) {
                keyClick(Qt.Key_Tab)
                const want = stops[i % stops.length].object
                verify(window.activeFocusItem === want, "stop " + i + ": " + Checks.describe(stops[i % stops.length])
                       + " wanted, focus is on " + window.activeFocusItem + " ("
                       + (window.activeFocusItem ? window.activeFocusItem.objectName : "") + ")")
            }
            for (let i = stops.length - 1; i >= 0; --i) {
                keyClick(Qt.Key_Tab, Qt.ShiftModifier)
                verify(window.activeFocusItem === stops[i].object, "back to " + Checks.describe(stops[i]))
            }
        }
    }
}
