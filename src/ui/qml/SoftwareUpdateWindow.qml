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

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 12

        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            BusyIndicator {
                Layout.preferredWidth: 28
                Layout.preferredHeight: 28
                running: updateModel.busy
                visible: running
            }
            Label {
                Layout.fillWidth: true
                text: updateModel.statusText
                wrapMode: Text.Wrap
                font.bold: true
                font.pointSize: 13
                color: updateWindow.palette.windowText
                Accessible.name: "Update status"
            }
        }

        ScrollView {
            id: notesView
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: updateModel.releaseNotesText !== ""
            // Fixed to the view's width, so wrapped notes never feed back into it.
            contentWidth: notesView.availableWidth

            TextArea {
                readOnly: true
                wrapMode: Text.Wrap
                text: updateModel.releaseNotesText
                Accessible.name: "Release notes"
            }
        }

        Label {
            visible: updateModel.releaseNotesLinkText !== ""
            text: updateModel.releaseNotesLinkText
            textFormat: Text.StyledText
            color: updateWindow.palette.windowText
            linkColor: updateWindow.palette.link
            onLinkActivated: link => Qt.openUrlExternally(link)
            Accessible.name: "Release notes"
        }

        Item {
            Layout.fillHeight: true
            visible: updateModel.releaseNotesText === ""
        }

        Label {
            Layout.fillWidth: true
            text: updateModel.lastCheckText
            opacity: 0.7
            color: updateWindow.palette.windowText
        }

        // A Row, not a RowLayout: buttons that appear while the window shows take their place.
        Row {
            Layout.alignment: Qt.AlignRight
            spacing: 8

            Button {
                text: "Check Again"
                visible: updateModel.canCheck
                Accessible.name: text
                onClicked: updateModel.check()
            }
            Button {
                text: "Install"
                visible: updateModel.canInstall
                highlighted: true
                Accessible.name: text
                onClicked: updateModel.install()
            }
            Button {
                text: "Restart Now"
                visible: updateModel.canRestart
                highlighted: true
                Accessible.name: text
                onClicked: updateModel.restart()
            }
            Button {
                text: "Close"
                Accessible.name: text
                onClicked: updateWindow.dismissed()
            }
        }
    }
}
