import QtQuick
import QtTest
import Vantry.Studio
import VantryNative

// "Vision Cutout": the presenter overlay over the viewport area, fresh each time it is switched on.
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
        name: "StagePresenterModifier"
        when: windowShown

        property var vm
        property var view

        function init() {
            vm = rig.newViewModel()
            view = createTemporaryObject(viewComponent, top, { vm: vm })
            verify(view !== null)
        }

        function overlay() { return findChild(view, "creatorStudioOverlay") }

        function test_off_shows_the_studio_alone() {
            compare(vm.showVisionPresenter, false)
            compare(overlay(), null)
        }

        function test_on_carries_the_studio_texts_and_fills_the_viewport() {
            vm.showVisionPresenter = true
            const o = overlay()
            verify(o !== null)
            compare(o.gameTitle, "Vantry Pro")
            compare(o.highlightHeadline, "LIVE VIRTUAL STUDIO")
            compare(o.statBadge, "ZERO GREEN SCREEN")
            const area = findChild(view, "viewportArea")
            compare(o.width, area.width)
            compare(o.height, area.height)
            verify(o.studio !== null)
        }

        function test_off_and_on_again_starts_from_a_fresh_controller() {
            vm.showVisionPresenter = true
            const first = overlay().studio
            first.isToolbarExpanded = true
            first.scale = 1.9
            first.offset = Qt.size(120, 40)
            first.backgroundMode = "BG Blur"
            vm.showVisionPresenter = false
            tryVerify(function() { return overlay() === null })
            vm.showVisionPresenter = true
            const fresh = overlay().studio
            verify(fresh !== null)
            compare(fresh.isToolbarExpanded, false)
            compare(fresh.isCameraEnabled, false)
            compare(fresh.scale, 1.0)
            compare(fresh.offset, Qt.size(-16, -96))
            compare(fresh.backgroundMode, "BG Occlusion")
            compare(fresh.frameShape, "Cutout")
            compare(fresh.statusMessage, "Creator Cam Ready")
        }

        function test_refine_edges_toggle_sits_beside_vision_cutout_and_drives_each_overlay() {
            const button = findChild(view, "refineEdgesButton")
            verify(button !== null)
            compare(button.parent, findChild(view, "visionCutoutButton").parent)
            compare(vm.refineEdges, true)
            vm.showVisionPresenter = true
            compare(overlay().studio.refineEdges, true)
            mouseClick(button)
            compare(vm.refineEdges, false)
            compare(overlay().studio.refineEdges, false)
            // A fresh overlay takes the window's choice.
            vm.showVisionPresenter = false
            tryVerify(function() { return overlay() === null })
            vm.showVisionPresenter = true
            compare(overlay().studio.refineEdges, false)
            mouseClick(button)
            compare(overlay().studio.refineEdges, true)
        }

        function test_colour_match_toggle_sits_beside_stand_in_set() {
            const button = findChild(view, "colourMatchButton")
            verify(button !== null)
            compare(button.parent, findChild(view, "presenterModeChooser").parent)
            compare(vm.colourMatch, true)
            mouseClick(button)
            compare(vm.colourMatch, false)
            mouseClick(button)
            compare(vm.colourMatch, true)
        }
    }
}
