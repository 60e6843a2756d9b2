import QtQuick

// Keeps the control that holds keyboard focus inside `flickable`'s view: a control reached
// with Tab below (or above) the fold scrolls into sight, with a little room around it.
Item {
    required property Flickable flickable
    readonly property int margin: 12

    function isInside(item) {
        for (let p = item; p; p = p.parent) {
            if (p === flickable.contentItem) return true
        }
        return false
    }

    Connections {
        target: flickable.Window.window
        function onActiveFocusItemChanged() {
            const item = flickable.Window.activeFocusItem
            if (!item || !isInside(item)) return
            const top = item.mapToItem(flickable.contentItem, 0, 0).y
            const bottom = top + item.height
            const view = flickable.height
            const most = Math.max(0, flickable.contentHeight - view)
            if (top - margin < flickable.contentY)
                flickable.contentY = Math.max(0, top - margin)
            else if (bottom + margin > flickable.contentY + view)
                flickable.contentY = Math.min(most, bottom + margin - view)
        }
    }
}
