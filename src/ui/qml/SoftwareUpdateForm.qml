import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// The Software Update window's controls; created while the window shows.
ColumnLayout {
    id: form

    // The window this fills, and what it shows.
    readonly property SoftwareUpdateWindow dialog: Window.window as SoftwareUpdateWindow
    readonly property SoftwareUpdateModel model: dialog.model

    spacing: 12

    RowLayout {
        Layout.fillWidth: true
        spacing: 10

        BusyIndicator {
            Layout.preferredWidth: 28
            Layout.preferredHeight: 28
            running: form.model.busy
            visible: running
        }
        Label {
            Layout.fillWidth: true
            text: form.model.statusText
            wrapMode: Text.Wrap
            font.bold: true
            font.pointSize: 13
            color: form.dialog.palette.windowText
            Accessible.name: "Update status"
        }
    }

    ScrollView {
        id: notesView
        Layout.fillWidth: true
        Layout.fillHeight: true
        visible: form.model.releaseNotesText !== ""
        // Fixed to the view's width, so wrapped notes never feed back into it.
        contentWidth: notesView.availableWidth

        TextArea {
            readOnly: true
            wrapMode: Text.Wrap
            text: form.model.releaseNotesText
            Accessible.name: "Release notes"
        }
    }

    Label {
        visible: form.model.releaseNotesLinkText !== ""
        text: form.model.releaseNotesLinkText
        textFormat: Text.StyledText
        color: form.dialog.palette.windowText
        linkColor: form.dialog.palette.link
        onLinkActivated: link => Qt.openUrlExternally(link)
        Accessible.name: "Release notes"
    }

    Item {
        Layout.fillHeight: true
        visible: form.model.releaseNotesText === ""
    }

    Label {
        Layout.fillWidth: true
        text: form.model.lastCheckText
        opacity: 0.7
        color: form.dialog.palette.windowText
    }

    // A Row, not a RowLayout: buttons that appear while the window shows take their place.
    Row {
        Layout.alignment: Qt.AlignRight
        spacing: 8

        Button {
            text: "Check Again"
            visible: form.model.canCheck
            Accessible.name: text
            onClicked: form.model.check()
        }
        Button {
            text: "Install"
            visible: form.model.canInstall
            highlighted: true
            Accessible.name: text
            onClicked: form.model.install()
        }
        Button {
            text: "Restart Now"
            visible: form.model.canRestart
            highlighted: true
            Accessible.name: text
            onClicked: form.model.restart()
        }
        Button {
            text: "Close"
            Accessible.name: text
            onClicked: form.dialog.dismissed()
        }
    }
}
