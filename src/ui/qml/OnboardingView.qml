import QtQuick
import Corvinel

// The first-launch walkthrough in four steps, in a dialog window over the main one. Closing it
// in any way marks it completed, so it shows once.
Window {
    id: view

    required property SessionController session
    required property AppSettings settings

    title: "Welcome to Corvinel"
    flags: Qt.Dialog
    modality: Qt.WindowModal
    minimumWidth: 400
    minimumHeight: 440
    width: 560
    height: 520
    visible: walkthrough.shown

    onClosing: walkthrough.finish()

    readonly property alias model: walkthrough

    // The "Load…" of the CV row.
    function chooseDocuments(title: string, filters: var, multiple: bool) {
        chooser.open(title, filters, multiple)
    }

    OnboardingModel {
        id: walkthrough
        objectName: "walkthrough"
        settings: view.settings
        session: view.session
    }

    Shortcut {
        sequences: ["Return", "Enter"]
        onActivated: walkthrough.primary()
    }
    Shortcut {
        sequence: "Escape"
        onActivated: walkthrough.finish()
    }

    FileChooserDialog {
        id: chooser
        onChosen: paths => walkthrough.loadDocuments(paths)
    }

    // The steps exist while the walkthrough shows: none of them costs the app's start.
    Loader {
        anchors.fill: parent
        active: view.visible
        source: "OnboardingSteps.qml"
    }
}
