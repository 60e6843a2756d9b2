import QtQuick
import QtQuick.Templates as T

// SymbolButton's look for an on/off switch: a screen reader reads it as a check box named
// `accessibleName`, checked while `checked` (bound by the owner to what it switches). A click
// does not flip `checked` itself: `clicked` asks the owner, whose answer sets it.
T.CheckBox {
    id: button
    property string symbol
    property string label
    property string accessibleName: label
    property color tint: GamePalette.primary
    property real pointSize: 11
    property int weight: Font.Bold
    implicitWidth: content.implicitWidth
    implicitHeight: content.implicitHeight
    opacity: pressed ? 0.6 : 1

    // Keyboard: Tab shows a ring around the focused switch; Enter presses it like Space.
    focusPolicy: Qt.StrongFocus
    Keys.onReturnPressed: function(event) { event.accepted = true; button.clicked() }
    Keys.onEnterPressed: function(event) { event.accepted = true; button.clicked() }
    Accessible.name: button.accessibleName
    nextCheckState: function() { return button.checkState }
    FocusRing {
        visible: button.visualFocus
        radius: 6
    }
    indicator: null
    contentItem: Row {
        id: content
        spacing: 4
        GameSymbol {
            anchors.verticalCenter: parent.verticalCenter
            symbol: button.symbol
            pointSize: button.pointSize
            color: button.tint
        }
        Text {
            objectName: "label"
            anchors.verticalCenter: parent.verticalCenter
            text: button.label
            font.pixelSize: button.pointSize
            font.weight: button.weight
            color: button.tint
        }
    }
    background: null
}
