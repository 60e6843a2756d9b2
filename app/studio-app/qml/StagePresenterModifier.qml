import QtQuick
import Vantry.CreatorStudio

// The presenter over the live studio ("Vision Cutout"): while `active`, the creator-studio
// overlay lies over the whole viewport area, labelled for the studio. Switching it off discards
// the overlay with its controller and camera; switching it on again starts from a fresh one.
Loader {
    id: modifier
    objectName: "presenterOverlay"
    // "Stand in Set": the studio draws the presenter; the overlay's window moves it in the set.
    property bool standInSet: false
    Binding {
        target: modifier.item
        property: "standInSet"
        value: modifier.standInSet
        when: modifier.item !== null
    }
    sourceComponent: CreatorStudioOverlay {
        objectName: "creatorStudioOverlay"
        gameTitle: "Vantry Pro"
        highlightHeadline: "LIVE VIRTUAL STUDIO"
        statBadge: "ZERO GREEN SCREEN"
    }
}
