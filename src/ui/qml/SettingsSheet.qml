import QtQuick
import Corvinel

// Every stored setting, in one dialog window beside the main one (a window of its own can be
// larger than the narrow window it belongs to). Return presses "Done", Escape closes.
Window {
    id: sheet

    required property SessionController session
    required property AppSettings settings
    readonly property alias model: sheetModel

    signal dismissed

    title: "Settings"
    flags: Qt.Dialog
    modality: Qt.WindowModal
    minimumWidth: 400
    minimumHeight: 420
    width: 520
    height: 640

    onVisibleChanged: sheetModel.setShown(visible)
    onClosing: sheet.dismissed()

    SettingsSheetModel {
        id: sheetModel
        settings: sheet.settings
        session: sheet.session
    }

    Shortcut {
        sequences: ["Return", "Enter"]
        onActivated: sheet.dismissed()
    }
    Shortcut {
        sequence: "Escape"
        onActivated: sheet.dismissed()
    }

    // The controls exist while the window shows: none of them costs the app's start.
    Loader {
        anchors.fill: parent
        active: sheet.visible
        source: "SettingsForm.qml"
    }
}
