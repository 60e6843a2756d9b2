import QtQuick
import QtQuick.Layouts

// vantry-gallery: one page per game-facing view, picked from the list on the left.
Window {
    id: window
    objectName: "galleryWindow"
    // 0 = co-op and raid maps sheet, 1 = voice bar, 2 = kill toast.
    property int initialPage: 0
    // The tab the sheet opens on.
    property int initialSheetTab: 0
    property int page: initialPage
    width: 900
    height: 700
    visible: true
    title: "Vantry Gallery"
    color: GamePalette.sheetFill

    RowLayout {
        anchors.fill: parent
        spacing: 0
        Rectangle {
            Layout.fillHeight: true
            Layout.preferredWidth: 190
            color: Qt.rgba(0.07, 0.075, 0.1, 1)
            Column {
                x: 12
                y: 16
                spacing: 6
                Text {
                    text: "VANTRY GALLERY"
                    font.pixelSize: 11
                    font.weight: Font.Black
                    color: GamePalette.secondary
                    bottomPadding: 8
                }
                Repeater {
                    model: ["Squad & Raids Sheet", "Voice Bar", "Kill Toast"]
                    delegate: TintButton {
                        required property int index
                        required property string modelData
                        objectName: "pageButton" + index
                        width: 166
                        text: modelData
                        prominent: window.page === index
                        tint: GamePalette.cyan
                        onClicked: window.page = index
                    }
                }
            }
        }
        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: window.page
            SheetPage { initialTab: window.initialSheetTab }
            VoiceBarPage {}
            KillToastPage {}
        }
    }
}
