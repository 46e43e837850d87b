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
    // The commands menu button, for the control bar.
    property Component menuButton

    padding: 0

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        ControlBar {
            Layout.fillWidth: true
            session: content.session
            settings: content.settings
            commands: content.commands
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
            onOpenLink: id => content.session.revealLink(id)
            onDismiss: content.session.dismissBanner()
        }

        TranscriptView {
            Layout.fillWidth: true
            Layout.fillHeight: true
            session: content.session
            settings: content.settings
        }
    }
}
