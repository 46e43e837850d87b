import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// Control bar, divider, banner (when there is one), then the transcript.
Pane {
    id: content

    required property SessionController session
    required property AppSettings settings
    required property Commands commands
    // Set by the control bar's gear and hearing buttons; the settings sheet shows while it is.
    property bool showSettings: false

    padding: 0

    function focusAskField() {
        askField.focusField();
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        ControlBar {
            id: bar
            Layout.fillWidth: true
            session: content.session
            settings: content.settings
            commands: content.commands
            onChooseContextFiles: contextChooser.open(bar.model.contextChooserTitle,
                                                      bar.model.contextFileFilters, true)
            onOpenSettings: content.showSettings = true
        }

        MenuSeparator {
            Layout.fillWidth: true
            padding: 0
        }

        BannerView {
            Layout.fillWidth: true
            visible: content.session.hasBanner
            text: content.session.banner
            links: content.session.bannerLinks
            progress: content.session.transcriptionProgress
            onOpenLink: id => content.session.revealLink(id)
            onDismiss: content.session.dismissBanner()
        }

        SettingsSheet {
            // A plain window does not follow the application palette by itself.
            palette: content.palette
            session: content.session
            settings: content.settings
            visible: content.showSettings
            onDismissed: content.showSettings = false
        }

        FileChooserDialog {
            id: contextChooser
            onChosen: paths => bar.model.importContext(paths)
        }

        TranscriptView {
            id: transcriptView
            Layout.fillWidth: true
            Layout.fillHeight: true
            session: content.session
            settings: content.settings
        }

        AskField {
            id: askField
            Layout.fillWidth: true
            Layout.leftMargin: 14
            Layout.rightMargin: 14
            Layout.bottomMargin: 10
            session: content.session
            returnFocusTo: transcriptView
        }
    }
}
