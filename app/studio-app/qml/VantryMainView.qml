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

    // Every change of a gain reaches the renderer through sync(), whoever made it.
    Connections {
        target: root.vm
        function onKeyGainChanged() { root.vm.sync() }
        function onNeonGainChanged() { root.vm.sync() }
        function onLedBrightnessChanged() { root.vm.sync() }
    }
}
