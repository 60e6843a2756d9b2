import QtQuick
import QtQuick.Layouts

// The studio window's content: header bar, then the set sidebar, the viewport
// and the lighting sidebar. Everything shown comes from `vm`; every action calls it.
Rectangle {
    id: root
    required property var vm
    // A still shown in place of the live viewport (tests and screenshots); empty for the live picture.
    property url staticViewportOverride: ""
    color: Theme.windowFill

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        HeaderBar {
            objectName: "headerBar"
            vm: root.vm
            Layout.fillWidth: true
        }

        Divider { Layout.fillWidth: true }

        RowLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 0

            SetSidebar {
                objectName: "setSidebar"
                vm: root.vm
                Layout.preferredWidth: 248
                Layout.fillHeight: true
            }
            Divider { vertical: true; Layout.fillHeight: true }
            ViewportArea {
                objectName: "viewportArea"
                vm: root.vm
                staticViewportOverride: root.staticViewportOverride
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.minimumWidth: 0
                Layout.minimumHeight: 0
            }
            Divider { vertical: true; Layout.fillHeight: true }
            LightingSidebar {
                objectName: "lightingSidebar"
                vm: root.vm
                Layout.preferredWidth: 296
                Layout.fillHeight: true
            }
        }
    }

    // A deck on the wall steps with the keys presentation clickers send, while the window has
    // the focus and no text field does; a focused slider keeps its arrow, page and Home/End
    // keys and a focused button its Space.
    readonly property Item focusHolder: root.Window.activeFocusItem
    readonly property bool deckKeys: root.vm.wallKind === "pdf"
                                     && !(focusHolder !== null && focusHolder.cursorPosition !== undefined)
    readonly property bool sliderHasFocus: focusHolder !== null && focusHolder.stepSize !== undefined
    readonly property bool buttonHasFocus: focusHolder !== null && focusHolder.checkable !== undefined
    // A focused choice (a camera tab, a set card) keeps the arrow keys that move between choices.
    readonly property bool choiceHasFocus: focusHolder !== null && focusHolder.isChoice === true
    Shortcut { sequences: ["N"]; enabled: root.deckKeys; onActivated: root.vm.nextSlide() }
    Shortcut { sequences: ["P", "Backspace"]; enabled: root.deckKeys; onActivated: root.vm.previousSlide() }
    Shortcut {
        sequences: ["PgDown", "Right"]
        enabled: root.deckKeys && !root.sliderHasFocus && !root.choiceHasFocus
        onActivated: root.vm.nextSlide()
    }
    Shortcut {
        sequences: ["PgUp", "Left"]
        enabled: root.deckKeys && !root.sliderHasFocus && !root.choiceHasFocus
        onActivated: root.vm.previousSlide()
    }
    Shortcut { sequence: "Home"; enabled: root.deckKeys && !root.sliderHasFocus; onActivated: root.vm.firstSlide() }
    Shortcut { sequence: "End"; enabled: root.deckKeys && !root.sliderHasFocus; onActivated: root.vm.lastSlide() }
    Shortcut { sequence: "Space"; enabled: root.deckKeys && !root.buttonHasFocus; onActivated: root.vm.nextSlide() }

    // Every change of a gain reaches the renderer through sync(), whoever made it.
    Connections {
        target: root.vm
        function onKeyGainChanged() { root.vm.sync() }
        function onNeonGainChanged() { root.vm.sync() }
        function onLedBrightnessChanged() { root.vm.sync() }
    }
}
