import QtQuick
import Corvinel
import QtQuick.Controls

// The one window: the control bar, the banner and the cards. The application hands in the
// session controller and the settings; everything else is created here from them.
ApplicationWindow {
    id: window

    required property SessionController session
    required property AppSettings settings
    // The application hands one in; without it "Check for Updates…" does nothing.
    property UpdateController updater: null
    // Set by "Check for Updates…"; the Software Update window shows while it is.
    property bool showSoftwareUpdate: false

    title: "Corvinel"
    width: 480
    height: 760
    minimumWidth: 420
    minimumHeight: 400
    visible: true

    Commands {
        id: windowCommands
        settings: window.settings
        session: window.session
        updater: window.updater
        onSoftwareUpdateRequested: window.showSoftwareUpdate = true
        onTranscribeRecordingRequested: recordingChooser.open(windowCommands.recordingChooserTitle,
                                                              windowCommands.recordingFileFilters, false)
        onSessionReviewRequested: reviewChooser.open(windowCommands.reviewChooserTitle,
                                                     windowCommands.reviewFileFilters, false)
    }

    WindowConfigurator {
        id: configurator
        objectName: "windowConfigurator"
        window: window
        alwaysOnTop: window.settings.alwaysOnTop
        appearance: window.settings.appearance
    }

    SoftwareUpdateWindow {
        objectName: "softwareUpdate"
        // A plain window does not follow the application palette by itself.
        palette: window.palette
        updater: window.updater
        visible: window.showSoftwareUpdate
        onDismissed: window.showSoftwareUpdate = false
    }

    FileChooserDialog {
        id: recordingChooser
        onChosen: paths => windowCommands.transcribeChosen(paths)
    }

    FileChooserDialog {
        id: reviewChooser
        folder: window.session.sessionFolder
        onChosen: paths => windowCommands.reviewChosen(paths)
    }

    Repeater {
        model: windowCommands.menu
        delegate: Item {
            id: row

            required property var shortcuts
            required property string command
            required property Commands actions

            Shortcut {
                sequences: row.shortcuts
                context: Qt.ApplicationShortcut
                onActivated: row.actions.trigger(row.command)
            }
        }
    }

    Shortcut {
        sequences: windowCommands.startStopShortcuts
        context: Qt.ApplicationShortcut
        onActivated: windowCommands.startOrStop()
    }

    // Dragging the window by any bare background moves it (the system does the move).
    DragHandler {
        objectName: "windowMover"
        target: null
        onActiveChanged: if (active) window.startSystemMove()
    }

    OnboardingView {
        // A plain window does not follow the application palette by itself.
        palette: window.palette
        session: window.session
        settings: window.settings
    }

    // Shortcuts the desktop reports from any window.
    Connections {
        target: GlobalKeys
        function onStartStopPressed() {
            windowCommands.startOrStop();
        }
        function onAskAboutScreenPressed() {
            window.session.askAboutScreen(false);
        }
        function onAskFieldPressed() {
            window.requestActivate();
            content.focusAskField();
        }
    }

    ContentView {
        id: content
        objectName: "content"
        anchors.fill: parent
        session: window.session
        settings: window.settings
        commands: windowCommands
    }
}
