import QtQuick
import QtQuick.Controls
import VantryCreatorNative

// A plain overlay button: an optional symbol followed by an optional label, in one colour.
// Reached with Tab (a ring shows which button has the keyboard), pressed with a click, Space or
// Enter. `tip` names what an icon-only button does, as a tooltip and to assistive technology.
// Children given to the button are drawn inside it in place of the symbol and label.
Item {
    id: button
    property string symbol
    property string label
    property string tip
    property real pointSize: 11
    property int weight: Font.Bold
    property color color: "white"
    // A button that is not enabled ignores clicks and keys and is drawn dimmed.
    signal clicked()

    implicitWidth: row.implicitWidth
    implicitHeight: row.implicitHeight
    anchors.verticalCenter: parent ? parent.verticalCenter : undefined
    activeFocusOnTab: true
    opacity: enabled ? 1 : 0.5

    Accessible.role: Accessible.Button
    Accessible.name: label !== "" ? label : tip
    Accessible.description: tip
    Accessible.onPressAction: if (enabled) clicked()

    Keys.onPressed: function(event) {
        if (event.key === Qt.Key_Space || event.key === Qt.Key_Return || event.key === Qt.Key_Enter
                || event.key === Qt.Key_Select) {
            event.accepted = true
            if (!event.isAutoRepeat) button.clicked()
        }
    }

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

    // The keyboard focus ring, in the overlay's cyan, just outside the button.
    FocusRing {
        visible: button.activeFocus
        radius: Math.min(height / 2, 8)
    }

    HoverHandler {
        id: hover
    }

    ToolTip.visible: tip !== "" && (hover.hovered || activeFocus)
    ToolTip.delay: hover.hovered ? 600 : 0
    ToolTip.text: tip

    TapHandler {
        enabled: button.enabled
        onTapped: button.clicked()
    }
}
