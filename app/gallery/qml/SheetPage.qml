import QtQuick

// The gallery page behind the co-op and raid maps sheet: it shows the last deployed
// map and presents the sheet over itself until "Done".
Rectangle {
    id: page
    objectName: "sheetPage"
    property int initialTab: 0
    property bool sheetOpen: true
    // The last map the sheet deployed, or null.
    property var deployedMap: null
    readonly property alias sheetLoader: sheetLoader
    color: Qt.rgba(0.05, 0.055, 0.075, 1)

    Column {
        anchors.centerIn: parent
        spacing: 12
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Grimfall · 6th Ave"
            font.pixelSize: 20
            font.weight: Font.Black
            color: GamePalette.primary
        }
        Text {
            objectName: "deployedLabel"
            anchors.horizontalCenter: parent.horizontalCenter
            text: page.deployedMap ? "Deployed: " + page.deployedMap.title + " · "
                                     + page.deployedMap.placements.length + " props"
                                   : "No raid map deployed"
            font.pixelSize: 13
            color: page.deployedMap ? GamePalette.green : GamePalette.secondary
        }
        TintButton {
            id: openSheetButton
            objectName: "openSheetButton"
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Squad & Raids…"
            prominent: true
            // Behind the open sheet it is out of the Tab walk, which stays inside the sheet.
            activeFocusOnTab: !page.sheetOpen
            onClicked: page.sheetOpen = true
            // Back on the page after the sheet closes.
            Connections {
                target: page
                function onSheetOpenChanged() { if (!page.sheetOpen) openSheetButton.forceActiveFocus() }
            }
        }
    }

    // The sheet, dimming the page behind it; created afresh each time it opens.
    Rectangle {
        anchors.fill: parent
        visible: page.sheetOpen
        color: Qt.rgba(0, 0, 0, 0.45)
        MouseArea { anchors.fill: parent }
        Loader {
            id: sheetLoader
            anchors.centerIn: parent
            active: page.sheetOpen
            // The opened sheet takes the keyboard: Tab walks its controls, Escape closes it.
            onLoaded: item.forceActiveFocus()
            sourceComponent: OruGrimfallCoopAndUGCSheetV1175 {
                height: Math.max(460, Math.min(implicitHeight, page.height - 40))
                selectedTab: page.initialTab
                onDeployMap: (map) => page.deployedMap = map
                onDismiss: page.sheetOpen = false
            }
        }
    }
}
