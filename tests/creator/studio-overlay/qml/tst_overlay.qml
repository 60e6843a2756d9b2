import QtQuick
import QtTest
import Vantry.CreatorStudio
import VantryCreatorNative

Item {
    id: root
    width: 800
    height: 600

    Component { id: fakeStudio; FakeStudio {} }
    Component { id: fakeExporter; FakeClipExporter {} }
    Component {
        id: overlayComponent
        CreatorStudioOverlay {
            anchors.fill: parent
            gameTitle: "Demo Game"
            highlightHeadline: "LIVE VIRTUAL STUDIO"
            statBadge: "ZERO GREEN SCREEN"
        }
    }

    TestCase {
        name: "CreatorStudioOverlay"
        when: windowShown

        property var studio
        property var exporter
        property var overlay
        property QtObject watched

        function init() {
            studio = createTemporaryObject(fakeStudio, root)
            exporter = createTemporaryObject(fakeExporter, root)
            overlay = createTemporaryObject(overlayComponent, root,
                                            { studio: studio, clipExporter: exporter, toastMillis: 3000 })
            verify(overlay)
        }

        function item(name) {
            const found = findChild(overlay, name)
            verify(found, name)
            return found
        }
        function windowCentre() {
            const w = item("facecamWindow")
            return Qt.point(w.x + w.width / 2 - overlay.width / 2, w.y + w.height / 2 - overlay.height / 2)
        }
        // Waits for the toolbar's spring to settle (controls outside the pill take no clicks).
        function settleToolbar() {
            tryVerify(function() { return !isPolishScheduled(item("toolbarRow")) }, 3000)
            tryVerify(function() {
                return Math.abs(item("toolbarPill").width - (item("toolbarRow").implicitWidth + 20)) < 0.01
            }, 3000)
        }
        function visibleToolbarButtons() {
            const names = ["cameraButton", "cutoutButton", "micButton", "recordButton", "clipButton", "expandButton"]
            return names.filter(function(n) { return item(n).visible })
        }

        function test_window_size_data() {
            return [
                { tag: "cutout at 1.0", shape: "Cutout", scale: 1.0, w: 176, h: 132 },
                { tag: "rounded at 1.0", shape: "Rounded", scale: 1.0, w: 176, h: 132 },
                { tag: "circle at 1.0", shape: "Circle", scale: 1.0, w: 148, h: 148 },
                { tag: "circle at 2.2", shape: "Circle", scale: 2.2, w: 325.6, h: 325.6 },
                { tag: "stored 3 shows 2.2", shape: "Cutout", scale: 3, w: 387.2, h: 290.4 },
            ]
        }
        function test_window_size(data) {
            studio.isCameraEnabled = true
            studio.frameShape = data.shape
            studio.scale = data.scale
            const w = item("facecamWindow")
            verify(w.visible)
            fuzzyCompare(w.width, data.w, 1e-6)
            fuzzyCompare(w.height, data.h, 1e-6)
        }

        function test_window_hidden_while_camera_off() {
            verify(!item("facecamWindow").visible)
            studio.isCameraEnabled = true
            verify(item("facecamWindow").visible)
        }

        function test_drag_stops_at_the_clamp_line_during_and_after_data() {
            return [
                { tag: "right, 44 % of 800", area: [800, 600], dx: 600, dy: 0, x: 352, y: 0 },
                { tag: "up, 42 % of 600", area: [800, 600], dx: 0, dy: -500, x: 0, y: -252 },
                { tag: "small area, 40 points", area: [60, 60], dx: 300, dy: 300, x: 40, y: 40 },
            ]
        }
        function test_drag_stops_at_the_clamp_line_during_and_after(data) {
            overlay.anchors.fill = undefined
            overlay.width = data.area[0]
            overlay.height = data.area[1]
            studio.offset = Qt.size(0, 0)
            studio.isCameraEnabled = true
            const w = item("facecamWindow")
            // In the overlay's own coordinates: the window moves under the pointer.
            const sx = w.x + w.width / 2, sy = w.y + 20
            mousePress(overlay, sx, sy)
            const steps = 12
            for (let i = 1; i <= steps; ++i) mouseMove(overlay, sx + data.dx * i / steps, sy + data.dy * i / steps)
            // While dragging: the window never leaves the clamp box.
            fuzzyCompare(windowCentre().x, data.x, 1)
            fuzzyCompare(windowCentre().y, data.y, 1)
            mouseRelease(overlay, sx + data.dx, sy + data.dy)
            fuzzyCompare(studio.offset.width, data.x, 1e-6)
            fuzzyCompare(studio.offset.height, data.y, 1e-6)
            compare(overlay.dragDelta, Qt.size(0, 0))
        }

        function test_short_move_is_no_drag() {
            studio.isCameraEnabled = true
            studio.offset = Qt.size(0, 0)
            const w = item("facecamWindow")
            mousePress(overlay, w.x + 60, w.y + 20)
            mouseMove(overlay, w.x + 66, w.y + 24)
            mouseRelease(overlay, w.x + 66, w.y + 24)
            compare(studio.offset, Qt.size(0, 0))
        }

        function test_pinch_to_five_shows_and_stores_2_2() {
            studio.isCameraEnabled = true
            const w = item("facecamWindow")
            // In the overlay's coordinates: the window grows around its centre while pinched.
            const cx = w.x + w.width / 2, cy = w.y + w.height / 2
            const seq = touchEvent(overlay)
            seq.press(0, overlay, cx - 10, cy).press(1, overlay, cx + 10, cy).commit()
            // Fingers from 20 to 1200 points apart: at least 5x from wherever the pinch is
            // recognised (past the drag threshold; later on a busy machine).
            for (let i = 1; i <= 59; ++i) {
                const half = 10 + 10 * i
                seq.move(0, overlay, cx - half, cy).move(1, overlay, cx + half, cy).commit()
            }
            verify(overlay.pinchScale >= 5, overlay.pinchScale)
            fuzzyCompare(item("facecamWindow").width, 176 * 2.2, 1e-6)
            fuzzyCompare(item("facecamWindow").height, 132 * 2.2, 1e-6)
            compare(studio.scale, 1.0)  // stored only when the pinch ends
            seq.release(0, overlay, cx - 600, cy).release(1, overlay, cx + 600, cy).commit()
            fuzzyCompare(studio.scale, 2.2, 1e-9)
            compare(overlay.pinchScale, 1.0)
        }

        function test_minus_button_and_ctrl_wheel_step_by_0_18_data() {
            return [
                { tag: "minus button", how: "button" },
                { tag: "ctrl + wheel down", how: "wheel" },
            ]
        }
        function test_minus_button_and_ctrl_wheel_step_by_0_18(data) {
            studio.isCameraEnabled = true
            const expected = [0.82, 0.64, 0.55]
            for (let i = 0; i < 3; ++i) {
                if (data.how === "button") {
                    mouseClick(findChild(item("smallerButton"), "symbol"))
                } else {
                    const w = item("facecamWindow")
                    mouseWheel(w, w.width / 2, w.height / 2, 0, -120, Qt.NoButton, Qt.ControlModifier)
                }
                fuzzyCompare(studio.scale, expected[i], 1e-9)
            }
            // Up again: plus and Ctrl + wheel up.
            mouseClick(findChild(item("largerButton"), "symbol"))
            fuzzyCompare(studio.scale, 0.73, 1e-9)
            const w = item("facecamWindow")
            mouseWheel(w, w.width / 2, w.height / 2, 0, 120, Qt.NoButton, Qt.NoModifier)
            fuzzyCompare(studio.scale, 0.73, 1e-9)  // a plain wheel does nothing
        }

        function test_border_rules_data() {
            return [
                { tag: "recording", mode: "BG Blur", shape: "Rounded", rec: true, mic: 0.2, color: "#ff453a", width: 3 },
                { tag: "meter above 0.35", mode: "BG Blur", shape: "Rounded", rec: false, mic: 0.36, color: "#64d2ff", width: 2 },
                { tag: "meter at 0.35", mode: "Full Cam", shape: "Circle", rec: false, mic: 0.35, color: Qt.rgba(1, 1, 1, 0.45), width: 2 },
                { tag: "mic excluded", mode: "BG Occlusion", shape: "Circle", rec: false, mic: 0, color: Qt.rgba(1, 1, 1, 0.45), width: 2 },
                { tag: "free cutout", mode: "BG Occlusion", shape: "Cutout", rec: true, mic: 0.7, color: undefined, width: 0 },
            ]
        }
        function test_border_rules(data) {
            studio.isCameraEnabled = true
            studio.backgroundMode = data.mode
            studio.frameShape = data.shape
            studio.isRecording = data.rec
            studio.micActivityLevel = data.mic
            const picture = item("facecamPicture")
            compare(picture.borderWidth, data.width)
            if (data.color !== undefined) verify(Qt.colorEqual(picture.borderColor, data.color), picture.borderColor)
        }

        function test_placeholder_data() {
            return [
                { tag: "occlusion, cutout", mode: "BG Occlusion", shape: "Cutout", text: "BG OCCLUDED", gradient: false },
                { tag: "occlusion, circle", mode: "BG Occlusion", shape: "Circle", text: "BG OCCLUDED", gradient: true },
                { tag: "blur", mode: "BG Blur", shape: "Cutout", text: "LIVE CAM", gradient: true },
                { tag: "full cam", mode: "Full Cam", shape: "Rounded", text: "LIVE CAM", gradient: true },
            ]
        }
        function test_placeholder(data) {
            studio.isCameraEnabled = true
            studio.backgroundMode = data.mode
            studio.frameShape = data.shape
            verify(item("facecamPlaceholder").visible)
            compare(item("placeholderText").text, data.text)
            compare(item("facecamPicture").previewBackground, data.gradient)
            // The first picture replaces the preview.
            studio.latestCameraFrame = rig.splitImage(64, 48, "red", "blue")
            studio.hasCameraFrame = true
            verify(!item("facecamPlaceholder").visible)
        }

        function test_picture_fills_the_window_cropping_the_overflow() {
            studio.isCameraEnabled = true
            studio.latestCameraFrame = rig.splitImage(640, 240, "red", "blue")  // wider than 4:3
            studio.hasCameraFrame = true
            const r = item("facecamPicture").imageSourceRect
            fuzzyCompare(r.height, 240, 1e-6)
            fuzzyCompare(r.width, 320, 1e-6)
            fuzzyCompare(r.x, 160, 1e-6)
        }

        function test_toolbar_collapsed_shows_only_the_record_circle() {
            compare(visibleToolbarButtons(), ["expandButton"])
            compare(findChild(item("expandButton"), "symbol").text, CreatorStudioUi.icon("record.circle"))
            verify(Qt.colorEqual(item("expandButton").color, "#64d2ff"))
        }

        function test_toolbar_contents_data() {
            return [
                { tag: "expanded", expanded: true, camera: false, rec: false,
                  buttons: ["cameraButton", "micButton", "recordButton", "clipButton", "expandButton"] },
                { tag: "camera on", expanded: false, camera: true, rec: false,
                  buttons: ["cameraButton", "cutoutButton", "micButton", "recordButton", "clipButton", "expandButton"] },
                { tag: "recording", expanded: false, camera: false, rec: true,
                  buttons: ["cameraButton", "micButton", "recordButton", "clipButton", "expandButton"] },
            ]
        }
        function test_toolbar_contents(data) {
            studio.isToolbarExpanded = data.expanded
            studio.isCameraEnabled = data.camera
            studio.isRecording = data.rec
            compare(visibleToolbarButtons(), data.buttons)
            compare(findChild(item("expandButton"), "symbol").text,
                    CreatorStudioUi.icon(data.expanded ? "chevron.right.circle.fill" : "record.circle"))
            verify(Qt.colorEqual(item("expandButton").color, data.rec ? "#ff453a" : "#64d2ff"))
        }

        function test_record_button_texts() {
            studio.isToolbarExpanded = true
            compare(item("recordText").text, "REC")
            studio.isRecording = true
            studio.formattedRecordingTime = "01:05"
            compare(item("recordText").text, "STOP 01:05")
        }

        // The running time is a live region that speaks every ten seconds, not every second; the
        // button itself keeps a steady name.
        function test_recording_time_is_announced_every_ten_seconds() {
            const text = item("recordText")
            compare(text.Accessible.role, Accessible.StatusBar)
            compare(item("recordButton").Accessible.name, "REC")
            studio.isRecording = true
            const heard = []
            const seconds = ["01:05", "01:06", "01:09", "01:10", "01:11", "01:19", "01:20"]
            for (let i = 0; i < seconds.length; ++i) {
                studio.formattedRecordingTime = seconds[i]
                if (heard[heard.length - 1] !== text.Accessible.name) heard.push(text.Accessible.name)
            }
            compare(heard, ["Recording 01:00", "Recording 01:10", "Recording 01:20"])
            compare(item("recordButton").Accessible.name, "STOP")
            compare(text.text, "STOP 01:20")
        }

        function test_buttons_act_on_the_controller() {
            studio.isToolbarExpanded = true
            settleToolbar()
            mouseClick(findChild(item("cameraButton"), "label"))
            settleToolbar()
            compare(studio.cameraToggles, 1)
            compare(findChild(item("cameraButton"), "label").text, "Cam ON")
            mouseClick(findChild(item("micButton"), "symbol"))
            compare(studio.isMicIncluded, false)
            compare(findChild(item("micButton"), "symbol").text, CreatorStudioUi.icon("mic.slash.fill"))
            mouseClick(item("recordText"))
            compare(studio.recordingTitles, ["Demo Game"])
            mouseClick(findChild(item("cutoutButton"), "label"))
            compare(studio.backgroundMode, "Full Cam")
            mouseClick(findChild(item("cutoutButton"), "label"))
            compare(studio.backgroundMode, "BG Occlusion")
            // The window's mode and shape buttons cycle in declaration order, wrapping.
            const modes = ["BG Blur", "Full Cam", "BG Occlusion"]
            for (let i = 0; i < 3; ++i) {
                mouseClick(findChild(item("modeButton"), "label"))
                compare(studio.backgroundMode, modes[i])
            }
            const shapes = ["Circle", "Rounded", "Cutout"]
            for (let i = 0; i < 3; ++i) {
                mouseClick(findChild(item("shapeButton"), "symbol"))
                compare(studio.frameShape, shapes[i])
            }
            mouseClick(findChild(item("expandButton"), "symbol"))
            compare(studio.isToolbarExpanded, false)
        }

        function test_overlay_makes_its_own_controller_and_takes_it_along() {
            const own = createTemporaryObject(overlayComponent, root)
            verify(own.studio !== null)
            compare(own.studio.statusMessage, "Creator Cam Ready")
            compare(own.studio.offset, Qt.size(-16, -96))
            compare(own.studio.backgroundMode, "BG Occlusion")
            verify(own.clipExporter !== null)
            watched = own.studio  // a guarded reference: null once the controller is gone
            own.destroy()
            tryVerify(function() { return watched === null })
        }

        function test_two_quick_clip_exports_two_toasts_first_timer_clears() {
            overlay.toastMillis = 1000
            studio.isToolbarExpanded = true
            settleToolbar()
            mouseClick(findChild(item("clipButton"), "label"))
            mouseClick(findChild(item("clipButton"), "label"))
            compare(exporter.requests.length, 2)
            compare(exporter.requests[0], ["Demo Game", "LIVE VIRTUAL STUDIO", "ZERO GREEN SCREEN"])
            verify(!item("clipToast").visible)
            compare(findChild(item("clipButton"), "label").text, "Exporting 9:16…")
            const pillY = item("toolbarPill").y
            exporter.finish(true, "/clips/Demo_Game_9x16.mp4")
            compare(item("clipToastText").text, "Saved 9:16 Viral Clip!")
            compare(item("clipToastDetail").text, "/clips/Demo_Game_9x16.mp4")
            verify(item("clipToast").visible)
            compare(item("toolbarPill").y, pillY, "the toolbar stays still while the toast shows")
            compare(findChild(item("clipButton"), "label").text, "Exporting 9:16…", "one still runs")
            wait(400)
            exporter.finish(false, "")
            compare(findChild(item("clipButton"), "label").text, "Clip 9:16")
            compare(item("clipToastDetail").text, "")
            compare(item("clipToastText").text, "Clip export failed")
            // The first export's timer clears the second one's toast.
            tryCompare(overlay, "clipToast", "", 800)
            verify(!item("clipToast").visible)
        }
    
        function test_status_line_and_show_in_folder() {
            compare(item("statusText").text, "Creator Cam Ready")
            verify(!item("showInFolderButton").visible)
            studio.statusMessage = "No front camera detected — using Studio Preview"
            verify(item("statusCaption").visible)
            compare(item("statusText").text, "No front camera detected — using Studio Preview")
            studio.statusMessage = "Save note: disk full"
            compare(item("statusText").text, "Save note: disk full")
            studio.savedFilePath = "/clips/Demo_Game_CreatorRec_1765000000.mp4"
            studio.statusMessage = "Saved Demo_Game_CreatorRec_1765000000.mp4"
            verify(item("showInFolderButton").visible)
            mouseClick(findChild(item("showInFolderButton"), "label"))
            compare(studio.revealed, ["/clips/Demo_Game_CreatorRec_1765000000.mp4"])
        }

        function test_stop_shows_saving_until_the_file_is_final() {
            studio.isToolbarExpanded = true
            studio.isRecording = true
            settleToolbar()
            studio.isSaving = true
            compare(item("recordText").text, "Saving…")
            verify(!item("recordButton").enabled)
            mouseClick(item("recordText"))
            compare(studio.recordingTitles, [], "no second stop while saving")
            studio.isRecording = false
            studio.isSaving = false
            compare(item("recordText").text, "REC")
        }

        function test_keyboard_reaches_and_presses_every_control() {
            studio.isToolbarExpanded = true
            studio.toggleCamera()
            settleToolbar()
            item("modeButton").forceActiveFocus()
            const reached = []
            for (let i = 0; i < 10; ++i) {
                const focused = overlay.Window.activeFocusItem
                reached.push(focused.objectName)
                verify(findChild(focused, "focusRing").visible, focused.objectName + " shows its focus ring")
                keyClick(Qt.Key_Tab)
            }
            compare(reached, ["modeButton", "smallerButton", "largerButton", "shapeButton", "cameraButton",
                              "cutoutButton", "micButton", "recordButton", "clipButton", "expandButton"])
            item("micButton").forceActiveFocus()
            keyClick(Qt.Key_Space)
            compare(studio.isMicIncluded, false)
            keyClick(Qt.Key_Return)
            compare(studio.isMicIncluded, true)
            item("recordButton").forceActiveFocus()
            keyClick(Qt.Key_Enter)
            compare(studio.recordingTitles, ["Demo Game"])
            for (const name of ["expandButton", "micButton", "smallerButton", "largerButton", "shapeButton"])
                verify(item(name).Accessible.name !== "", name + " has an accessible name")
        }

        function test_control_row_never_wider_than_a_small_window() {
            studio.toggleCamera()
            studio.scale = 0.55
            const row = item("facecamControls")
            verify(row.width * row.scale <= overlay.windowWidth + 0.01,
                   row.width * row.scale + " > " + overlay.windowWidth)
            studio.scale = 1.0
            compare(row.scale, 1)
        }
    }
}
