import QtQuick
import VantryCreatorNative

// A plain overlay button: an optional symbol followed by an optional label, in one colour.
Item {
    id: button
    property string symbol
    property string label
    property real pointSize: 11
    property int weight: Font.Bold
    property color color: "white"
    signal clicked()

    implicitWidth: row.implicitWidth
    implicitHeight: row.implicitHeight
    anchors.verticalCenter: parent ? parent.verticalCenter : undefined

    Row {
        id: row
        spacing: 4
        Text {
            objectName: "symbol"
            visible: button.symbol !== ""
            anchors.verticalCenter: parent.verticalCenter
            text: CreatorStudioUi.icon(button.symbol)
            font.family: CreatorStudioUi.iconFamily
            font.pixelSize: Math.round(button.pointSize * 1.3)
            color: button.color
        }
        Text {
            objectName: "label"
            visible: button.label !== ""
            anchors.verticalCenter: parent.verticalCenter
            text: button.label
            font.pixelSize: button.pointSize
            font.weight: button.weight
            color: button.color
        }
    }

    TapHandler {
        onTapped: button.clicked()
    }
}
