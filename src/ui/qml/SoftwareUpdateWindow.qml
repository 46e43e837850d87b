import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// "Check for Updates…": what the updater found, its release notes, and the one action that
// fits (install, restart). A small dialog window beside the main one; Escape closes it.
Window {
    id: updateWindow

    required property UpdateController updater // may be null: the model shows nothing then
    readonly property alias model: updateModel

    signal dismissed

    title: "Software Update"
    flags: Qt.Dialog
    minimumWidth: 400
    minimumHeight: 280
    width: 460
    height: 380
    color: updateWindow.palette.window

    onClosing: updateWindow.dismissed()

    SoftwareUpdateModel {
        id: updateModel
        updater: updateWindow.updater
    }

    Shortcut {
        sequence: "Escape"
        onActivated: updateWindow.dismissed()
    }

    // The window's controls exist while it shows: none of them costs the app's start.
    Loader {
        anchors.fill: parent
        anchors.margins: 20
        active: updateWindow.visible
        source: "SoftwareUpdateForm.qml"
    }
}
