import QtQuick
import QtQuick.Window
import QtQuick.Dialogs

// The single studio window and the file dialogs behind the view model's panels.
Window {
    id: window
    required property var vm
    required property var panels
    property url staticViewportOverride: ""
    property url picturesFolder
    property url moviesFolder
    // The app's remote control (RemoteControl), set by the `vantry` executable.
    property QtObject remote: null

    title: "Vantry Pro"
    minimumWidth: 1180
    minimumHeight: 740
    width: 1440
    height: 900
    color: Theme.windowFill
    visible: true

    VantryMainView {
        anchors.fill: parent
        vm: window.vm
        staticViewportOverride: window.staticViewportOverride
    }

    FileDialog {
        id: openDialog
        objectName: "openDialog"
        fileMode: FileDialog.OpenFile
        currentFolder: window.picturesFolder
        onAccepted: window.panels.finishOpen(selectedFile)
        onRejected: window.panels.finishOpen("")
    }

    FileDialog {
        id: saveDialog
        objectName: "saveDialog"
        fileMode: FileDialog.SaveFile
        acceptLabel: "Save"
        currentFolder: window.moviesFolder
        onAccepted: window.panels.finishSave(selectedFile)
        onRejected: window.panels.finishSave("")
    }

    Connections {
        target: window.panels
        function onOpenRequested(title, nameFilters) {
            openDialog.title = title
            openDialog.nameFilters = nameFilters
            openDialog.open()
        }
        function onSaveRequested(title, proposedName, nameFilters) {
            saveDialog.title = title
            saveDialog.nameFilters = nameFilters
            saveDialog.selectedFile = window.moviesFolder + "/" + proposedName
            saveDialog.open()
        }
    }

    // The window manager keeps the window at its minimum size; without one (a bare X
    // server, a kiosk session) the window holds it itself.
    onWidthChanged: if (width < minimumWidth) width = minimumWidth
    onHeightChanged: if (height < minimumHeight) height = minimumHeight

    Component.onCompleted: {
        raise()
        requestActivate()
    }
}
