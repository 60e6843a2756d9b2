import QtQuick
import QtQuick.Controls
import QtTest
import Vantry.Studio
import VantryNative

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

    Component {
        id: textSample
        Rectangle {
            width: 220
            height: 30
            color: "black"
            Text {
                x: 6
                y: 6
                text: "Studio Lighting Rig 0123"
                color: "white"
                font.pixelSize: 13
                renderType: Text.NativeRendering
            }
        }
    }

    TestCase {
        id: testCase
        name: "VantryMainView"
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

        function sameColor(actual, expected, what) {
            const a = Qt.color(actual)
            const e = Qt.color(expected)
            verify(Math.abs(a.r - e.r) < 0.01 && Math.abs(a.g - e.g) < 0.01 && Math.abs(a.b - e.b) < 0.01
                   && Math.abs(a.a - e.a) < 0.01, what + ": " + a + " is not " + e)
        }

        function fillOf(button) {
            return button.background.color
        }

        function test_initialState() {
            sameColor(fillOf(item("camera_0")), Theme.pinkAt(0.28), "Cam 1 highlighted")
            for (let i = 1; i < 4; ++i) sameColor(fillOf(item("camera_" + i)), "transparent", "Cam " + (i + 1))
            compare(item("camera_0").contentItem.text, "Cam 1 \u00b7 Desk")
            compare(item("camera_0").contentItem.font.weight, Font.DemiBold)
            compare(item("camera_1").contentItem.font.weight, Font.Medium)

            sameColor(fillOf(item("setCard_manhattan-loft")), Theme.pinkAt(0.2), "loft card")
            compare(item("setCard_manhattan-loft").background.border.color, Theme.pinkAt(0.55))
            sameColor(fillOf(item("setCard_timber-podcast")), Theme.white(0.03), "timber card")

            const rows = ["keyLightRow", "neonRow", "ledRow"]
            const values = [1.35, 1.25, 1.15]
            for (let r = 0; r < 3; ++r) {
                const row = item(rows[r])
                fuzzyCompare(findChild(row, "slider").value, values[r], 1e-6)
                compare(findChild(row, "valueText").text, values[r].toFixed(2))
            }
            compare(item("fpsText").text, "120 FPS")
            compare(item("bannerBar").visible, false)
            compare(item("onAirText").text, "ON AIR \u00b7 Manhattan Skyline Loft")
            compare(item("mountedLine").text, "Mounted: Corvella Studio Deck")
            compare(item("exportLabel").text, "Export 1080p Broadcast MP4...")
            compare(item("exportButton").enabled, true)
            compare(item("exportProgressBar").visible, false)
            verify(findChild(view, "staticViewport") !== null)
            compare(findChild(view, "stageViewport"), null)
        }

        function test_columnsKeepTheirWidths() {
            compare(item("setSidebar").width, 248)
            compare(item("lightingSidebar").width, 296)
            compare(item("viewportArea").width, top.width - 248 - 296 - 2)  // two dividers
            const header = item("headerBar")
            verify(header.height > 26, "header height " + header.height)
            compare(item("viewportArea").mapToItem(view, 0, 0).y, header.height + 1)
            compare(item("viewportArea").height, top.height - header.height - 1)
        }

        function test_setCardSelectsAndAnnounces() {
            mouseClick(item("setCard_timber-podcast"))
            compare(vm.selectedSet, "timber-podcast")
            compare(rig.loadedSetCount(), 1)
            compare(rig.lastLoadedSet(), "timber-podcast")
            compare(item("bannerBar").visible, true)
            compare(item("bannerText").text, "Switched Studio Set: Warm Timber Podcast")
            compare(item("onAirText").text, "ON AIR \u00b7 Warm Timber Podcast")
            sameColor(fillOf(item("setCard_timber-podcast")), Theme.pinkAt(0.2), "timber card")
            sameColor(fillOf(item("setCard_manhattan-loft")), Theme.white(0.03), "loft card")
            compare(findChild(item("setCard_timber-podcast"), "title").font.weight, Font.DemiBold)

            mouseClick(item("setCard_timber-podcast"))  // again: loads again
            compare(rig.loadedSetCount(), 2)
        }

        function test_cameraButtonSetsAngleAndSyncs() {
            mouseClick(item("camera_3"))
            compare(vm.cameraAngle, 3)
            compare(rig.rendererAngle(), 3)
            sameColor(fillOf(item("camera_3")), Theme.pinkAt(0.28), "Cam 4 highlighted")
            sameColor(fillOf(item("camera_0")), "transparent", "Cam 1 no longer")
        }

        function test_frameRateBadgeRoundsHalvesAway() {
            rig.reportFPS(59.5)
            tryCompare(item("fpsText"), "text", "60 FPS")
            rig.reportFPS(59.49)
            tryCompare(item("fpsText"), "text", "59 FPS")
        }

        function test_visionCutoutToggleLook() {
            const button = item("visionCutoutButton")
            const symbol = item("visionCutoutSymbol")
            compare(symbol.text, StudioUi.icon("person.crop.rectangle"))
            sameColor(fillOf(button), Theme.white(0.07), "off fill")
            mouseClick(button)
            compare(vm.showVisionPresenter, true)
            compare(symbol.text, StudioUi.icon("person.crop.rectangle.fill"))
            sameColor(fillOf(button), Theme.pinkAt(0.32), "on fill")
            mouseClick(button)
            compare(vm.showVisionPresenter, false)
            compare(symbol.text, StudioUi.icon("person.crop.rectangle"))
            sameColor(fillOf(button), Theme.white(0.07), "off fill again")
        }

        function test_sliderChangesReachTheRenderer() {
            const slider = findChild(item("keyLightRow"), "slider")
            mouseClick(slider, slider.width * 0.9, slider.height / 2)
            verify(vm.keyGain > 2.0, "key gain " + vm.keyGain)
            fuzzyCompare(rig.rendererKeyGain(), vm.keyGain, 1e-6)
            compare(findChild(item("keyLightRow"), "valueText").text, StudioUi.gainText(vm.keyGain))
            // A change made elsewhere is synced too.
            vm.neonGain = 0.5
            fuzzyCompare(rig.rendererNeonGain(), 0.5, 1e-6)
        }

        function test_exportButtonWhileExporting() {
            rig.holdExports()
            rig.answerNextPanel("/tmp/vantry-qml-test/out.mp4")
            const button = item("exportButton")
            mouseClick(button)
            compare(vm.isExporting, true)
            compare(item("exportLabel").text, "Exporting 1080p Broadcast...")
            compare(button.enabled, false)
            compare(item("exportProgressBar").visible, true)
            tryVerify(() => rig.exportCount() === 1)
            tryVerify(() => item("exportProgressFill").width > 0)  // 45 of 90 frames
            mouseClick(button)  // disabled: ignored
            wait(20)
            compare(rig.exportCount(), 1)

            rig.releaseExports()
            tryCompare(item("exportLabel"), "text", "Export 1080p Broadcast MP4...")
            compare(button.enabled, true)
            compare(item("exportProgressBar").visible, false)
            compare(item("bannerText").text, "Exported 1080p Studio Broadcast (1.5 MB)")
        }

        function test_goLiveSection() {
            const scroll = item("lightingScroll")
            scroll.contentY = scroll.contentHeight - scroll.height
            waitForRendering(view)
            const live = vm.goLive
            compare(item("goLiveKey").echoMode, TextInput.Password)
            compare(item("goLiveLabel").text, "Go Live")
            compare(live.size, "1280x720")
            compare(live.bitRate, 4500000)
            mouseClick(findChild(item("goLiveSize"), "choice_1920x1080"))
            compare(live.size, "1920x1080")
            compare(live.bitRate, 6000000)  // the default follows the size

            // Without a URL nothing starts; the status line says why.
            live.url = ""
            mouseClick(item("goLiveButton"))
            compare(live.isLive, false)
            compare(item("goLiveStatus").text, "Enter the server URL")
            // Mending the address clears the failure at the first key.
            item("goLiveUrl").forceActiveFocus()
            keyClick(Qt.Key_R)
            compare(live.state, "idle")
            verify(!item("goLiveStatus").visible)

            // A further server's fields show once the one before it has an address.
            live.url = "rtmp://127.0.0.1:1935/live"
            verify(item("goLiveUrl2").visible)
            verify(!item("goLiveUrl3").visible)
            mouseClick(item("goLiveEnabled2"))
            compare(live.destinations[1].enabled, false)
            mouseClick(item("goLiveEnabled2"))
            compare(live.destinations[1].enabled, true)

            // No v4l2loopback device here: the switch stays off and the hint shows.
            verify(item("virtualCameraHint").visible)
            verify(item("virtualCameraHint").text.indexOf("modprobe v4l2loopback") >= 0)
            verify(!item("virtualCameraSwitch").enabled, "drawn disabled without a device")
            mouseClick(item("virtualCameraSwitch"))
            compare(live.virtualCameraOn, false)

            // Each server takes the landscape or the vertical picture, chosen with the keys as
            // well; the vertical preview shows only while a vertical stream runs.
            const canvas = item("goLiveCanvas")
            compare(live.destinations[0].canvas, "landscape")
            verify(findChild(canvas, "choice_landscape").checked)
            findChild(canvas, "choice_landscape").forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Right)
            compare(live.destinations[0].canvas, "vertical")
            verify(findChild(canvas, "choice_vertical").checked)
            compare(findChild(canvas, "choice_vertical").Accessible.name, "Vertical")
            verify(!item("verticalPreview").visible)
            keyClick(Qt.Key_Left)
            compare(live.destinations[0].canvas, "landscape")
        }

        // Each source's mute and gain reach the programme sound; the meters and the switch are there.
        function test_audioSection() {
            const audio = vm.audio
            const scroll = item("lightingScroll")
            scroll.contentY = Math.max(0, item("audioSection").y - 20)
            waitForRendering(view)
            compare(audio.sources.length, 3)
            compare(audio.sources[0].title, "Mic/Aux")
            compare(audio.sources[1].title, "Desktop Audio")
            compare(audio.sources[2].title, "Wall Video")
            verify(item("audioMeter_mic").visible)
            compare(audio.meters.length, 4)
            compare(audio.sources[1].muted, false)
            mouseClick(item("audioMute_desktop"))
            compare(audio.sources[1].muted, true)
            mouseClick(item("audioMute_desktop"))
            compare(audio.sources[1].muted, false)
            const gain = findChild(item("audioGain_mic"), "slider")
            gain.forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Home)
            compare(audio.sources[0].gainDb, -30)
            keyClick(Qt.Key_End)
            compare(audio.sources[0].gainDb, 20)
            verify(!item("audioDevice_wallVideo").visible, "the wall's sound is the wall video's own")
            const filters = audio.voiceFilters
            mouseClick(item("voiceFiltersSwitch"))
            compare(audio.voiceFilters, !filters)
        }

        // The URL field shows an address's secrets as dots, as the key field does, except while
        // it is being edited.
        function test_goLiveUrlFieldShowsSecretsAsDots() {
            const live = vm.goLive
            const field = item("goLiveUrl")
            live.url = "srt://127.0.0.1:9000?passphrase=Right4Phrase&latency=20"
            compare(field.text, "srt://127.0.0.1:9000?passphrase=\u25cf\u25cf\u25cf\u25cf\u25cf\u25cf"
                    + "\u25cf\u25cf\u25cf\u25cf\u25cf\u25cf&latency=20")
            field.forceActiveFocus(Qt.MouseFocusReason)
            compare(field.text, live.url, "in clear while edited")
            keyClick(Qt.Key_End)
            keyClick(Qt.Key_0)
            item("goLiveKey").forceActiveFocus(Qt.TabFocusReason)
            compare(live.url, "srt://127.0.0.1:9000?passphrase=Right4Phrase&latency=200")
            verify(field.text.indexOf("Right4Phrase") < 0, "dots again: " + field.text)
            verify(field.text.indexOf("latency=200") > 0, field.text)
        }

        function test_keyboardFocusIsVisibleAndEnterOrSpacePresses() {
            const cam = item("camera_2")
            cam.forceActiveFocus(Qt.TabFocusReason)
            verify(findChild(cam, "focusRing").visible)
            keyClick(Qt.Key_Return)
            compare(vm.cameraAngle, 2)
            keyClick(Qt.Key_Tab)
            verify(item("camera_3").activeFocus, "Tab moves to the next camera")
            verify(findChild(item("camera_3"), "focusRing").visible)
            verify(!findChild(cam, "focusRing").visible)
            keyClick(Qt.Key_Space)
            compare(vm.cameraAngle, 3)
        }

        function test_sliderKeysMoveTheGainAndTheHandleIsRinged() {
            const slider = findChild(item("keyLightRow"), "slider")
            const ring = findChild(slider, "focusRing")
            verify(!ring.visible)
            slider.forceActiveFocus(Qt.TabFocusReason)
            verify(ring.visible, "the focused slider rings its handle")
            compare(slider.Accessible.name, "Key Light")
            const start = vm.keyGain  // range 0.4 to 2.4: a step is 0.1, a page 0.4
            keyClick(Qt.Key_Right)
            fuzzyCompare(vm.keyGain, start + 0.1, 1e-5)
            keyClick(Qt.Key_Up)
            fuzzyCompare(vm.keyGain, start + 0.2, 1e-5)
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Left)
            fuzzyCompare(vm.keyGain, start, 1e-5)
            keyClick(Qt.Key_PageUp)
            fuzzyCompare(vm.keyGain, start + 0.4, 1e-5)
            keyClick(Qt.Key_PageDown)
            fuzzyCompare(vm.keyGain, start, 1e-5)
            keyClick(Qt.Key_End)
            fuzzyCompare(vm.keyGain, 2.4, 1e-5)
            keyClick(Qt.Key_PageUp)
            fuzzyCompare(vm.keyGain, 2.4, 1e-5)
            keyClick(Qt.Key_Home)
            fuzzyCompare(vm.keyGain, 0.4, 1e-5)
            fuzzyCompare(rig.rendererKeyGain(), 0.4, 1e-5)
            keyClick(Qt.Key_Tab)
            verify(findChild(item("neonRow"), "slider").activeFocus, "Tab moves to the next slider")
            verify(!ring.visible)
        }

        function test_textFieldsAreRingedWhileTheyHoldTheCaret() {
            const url = item("goLiveUrl")
            const key = item("goLiveKey")
            verify(!findChild(url, "focusRing").visible)
            url.forceActiveFocus(Qt.MouseFocusReason)
            verify(findChild(url, "focusRing").visible, "entered by a click, too")
            keyClick(Qt.Key_Tab)
            verify(key.activeFocus, "Tab moves to the stream key")
            verify(findChild(key, "focusRing").visible)
            verify(!findChild(url, "focusRing").visible)
            compare(key.Accessible.name, "Stream Key")
        }

        function test_sidebarsShowTheirScrollBarWhenTheyOverflow() {
            // At the smallest window the lighting column runs below the fold.
            const bar = findChild(item("lightingScroll"), "sidebarScrollBar")
            verify(bar !== null)
            compare(bar.policy, ScrollBar.AlwaysOn)
            verify(bar.visible && bar.opacity > 0.5)
            // A control below the fold reached with the keyboard scrolls into sight, and back.
            const scroll = item("lightingScroll")
            compare(scroll.contentY, 0)
            const copy = item("copyHintButton")
            verify(copy.mapToItem(scroll, 0, 0).y + copy.height > scroll.height, "starts below the fold")
            copy.forceActiveFocus(Qt.TabFocusReason)
            const at = copy.mapToItem(scroll, 0, 0)
            verify(scroll.contentY > 0 && at.y >= 0 && at.y + copy.height <= scroll.height, "the button is in view")
            findChild(item("keyLightRow"), "slider").forceActiveFocus(Qt.TabFocusReason)
            verify(findChild(item("keyLightRow"), "slider").mapToItem(scroll, 0, 0).y >= 0)
        }

        function test_longSlideNameWrapsToTwoLines() {
            const name = "an-extremely-long-slide-file-name-that-goes-on-and-on-and-on-well-past-the-sidebar-width-and-further-still.png"
            rig.answerNextPanel("/slides/" + name)
            mouseClick(item("loadSlideButton"))
            compare(vm.slideName, name)
            compare(item("bannerText").text, "Mounted " + name + " onto 3D LED Wall")
            const line = item("mountedLine")
            compare(line.text, "Mounted: " + name)
            verify(line.lineCount <= 2, "line count " + line.lineCount)
            verify(line.truncated, "long name is cut after two lines")
        }
    
        function test_longBannerIsElidedInsideTheViewport() {
            // 90 characters, at the window's minimum size.
            const name = "quarterly-product-roadmap-keynote-final-revision-with-speaker-notes-and-appendix-v1.23.png"
            compare(name.length, 90)
            rig.answerNextPanel("/slides/" + name)
            mouseClick(item("loadSlideButton"))
            const full = "Mounted " + name + " onto 3D LED Wall"
            compare(item("bannerText").text, full)
            const area = item("viewportArea")
            const capsule = item("bannerCapsule")
            // The banner bar has just appeared: wait for its layout to settle inside the viewport.
            const inside = function () {
                const left = capsule.mapToItem(area, 0, 0).x
                return capsule.width > 0 && left >= 14 && left + capsule.width <= area.width - 14 + 0.5
            }
            tryVerify(inside, 15000, "the capsule stays inside the viewport")
            tryVerify(function () { return item("bannerText").truncated }, 15000, "the long message is elided")
            compare(item("bannerToolTip").text, full)
            // Hovering shows the full text; keep nudging the pointer, since hover is only
            // delivered on movement and the bar may still be settling on a busy machine.
            let nudge = 0
            tryVerify(function () {
                nudge = 1 - nudge
                mouseMove(capsule, capsule.width / 2 + nudge, capsule.height / 2)
                return item("bannerToolTip").visible
            }, 15000, "the tooltip shows on hover")

            // A short message is shown whole, without a tooltip.
            mouseClick(item("setCard_keynote-arena"))
            verify(!item("bannerText").truncated)
            compare(item("bannerToolTip").visible, false)
        }

        function test_badgesReadOverAnyPicture() {
            const pictures = ["white", "black", Theme.cyan, Theme.pink, Qt.rgba(0.98, 0.66, 0.28, 1)]
            for (const picture of pictures) {
                const fps = StudioUi.contrastOver(item("fpsText").color, item("fpsBadge").color, picture)
                verify(fps >= 4.5, "frame-rate text contrast " + fps + " over " + picture)
                const onAir = StudioUi.contrastOver(item("onAirText").color, item("onAirBadge").color, picture)
                verify(onAir >= 4.5, "on-air text contrast " + onAir + " over " + picture)
            }
            verify(item("fpsBadge").color.a < 1, "the backing stays translucent")
        }

        function test_failuresAreReportedAsFailures() {
            rig.refuseImages()
            rig.answerNextPanel("/slides/broken.png")
            mouseClick(item("loadSlideButton"))
            compare(item("bannerText").text, "Could not load broken.png onto the LED Wall")
            compare(item("mountedLine").text, "Mounted: Corvella Studio Deck")

            rig.failExports()
            rig.answerNextPanel("/read-only/out.mp4")
            mouseClick(item("exportButton"))
            tryCompare(item("exportLabel"), "text", "Export 1080p Broadcast MP4...")
            compare(item("bannerText").text, "Export failed: cannot write there")
        }

        function test_plainButtonsDimTheirLabelWhilePressed() {
            const names = ["camera_2", "visionCutoutButton", "setCard_neon-creator", "loadSlideButton", "exportButton"]
            for (const name of names) {
                const button = item(name)
                compare(button.contentItem.opacity, 1, name + " at rest")
                mousePress(button)
                verify(button.contentItem.opacity < 0.7, name + " pressed: " + button.contentItem.opacity)
                mouseRelease(button)
                compare(button.contentItem.opacity, 1, name + " released")
            }
        }

        function test_cameraLabelsUseRealMediumAndSemiboldFaces() {
            const selected = item("camera_0").contentItem
            const other = item("camera_1").contentItem
            compare(selected.fontInfo.family, "Inter")
            compare(selected.fontInfo.styleName.replace(" ", ""), "SemiBold")
            compare(other.fontInfo.styleName, "Medium")
            // Selecting a camera barely changes its label's width: neighbours stay put.
            const before = item("camera_1").width
            mouseClick(item("camera_1"))
            verify(Math.abs(item("camera_1").width - before) <= 3, "grew by " + (item("camera_1").width - before))
        }
    
        function test_textIsAntialiasedInGrey() {
            // White text on black: greyscale antialiasing leaves every pixel grey,
            // subpixel antialiasing would colour the glyph edges.
            const sample = createTemporaryObject(textSample, top)
            waitForRendering(sample)
            const image = grabImage(sample)
            let coloured = 0
            let inked = 0
            for (let y = 0; y < image.height; ++y) {
                for (let x = 0; x < image.width; ++x) {
                    const c = image.pixel(x, y)
                    const spread = Math.max(c.r, c.g, c.b) - Math.min(c.r, c.g, c.b)
                    if (spread > 0.04) ++coloured
                    if (c.r > 0.2) ++inked
                }
            }
            verify(inked > 50, "the text was drawn")
            compare(coloured, 0)
        }
    }
}
