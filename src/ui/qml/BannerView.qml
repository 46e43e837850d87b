pragma ComponentBehavior: Bound
import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// The notice strip under the control bar: a message, its links, a progress bar while a
// recording is transcribed, and a close button.
Pane {
    id: banner

    property string text
    property var links: []
    // 0…1 while a recording is being transcribed, −1 otherwise.
    property double progress: -1

    signal openLink(string id)
    signal dismiss

    leftPadding: 12
    rightPadding: 12
    topPadding: 8
    bottomPadding: 8
    Accessible.role: Accessible.AlertMessage
    Accessible.name: banner.text

    background: Rectangle {
        color: systemPalette.mid
        opacity: 0.6
    }

    SystemPalette {
        id: systemPalette
    }

    BannerModel {
        id: bannerModel
        progress: banner.progress
    }

    RowLayout {
        anchors.fill: parent
        spacing: 8

        Label {
            Layout.alignment: Qt.AlignTop
            text: bannerModel.infoSymbol
            opacity: 0.7
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 3

            Label {
                Layout.fillWidth: true
                text: banner.text
                wrapMode: Text.Wrap
                font.pointSize: 11
            }

            // Made only while a recording is transcribed: the bar's images load with it.
            Repeater {
                model: bannerModel.showsProgress ? 1 : 0
                delegate: ProgressBar {
                    Layout.fillWidth: true
                    value: bannerModel.progress
                    Accessible.name: "Transcription progress"
                }
            }

            Row {
                spacing: 12
                Repeater {
                    model: banner.links
                    delegate: Button {
                        id: link
                        required property var modelData
                        flat: true
                        padding: 2
                        implicitWidth: implicitContentWidth + leftPadding + rightPadding
                        implicitHeight: implicitContentHeight + topPadding + bottomPadding
                        font.pointSize: 9
                        text: bannerModel.linkCaption(link.modelData.label)
                        Accessible.name: link.modelData.label
                        onClicked: banner.openLink(link.modelData.id)
                    }
                }
            }
        }

        Button {
            Layout.alignment: Qt.AlignTop
            flat: true
            padding: 2
            implicitWidth: implicitContentWidth + leftPadding + rightPadding
            implicitHeight: implicitContentHeight + topPadding + bottomPadding
            text: bannerModel.dismissSymbol
            opacity: 0.7
            Accessible.name: "Dismiss"
            onClicked: banner.dismiss()
        }
    }
}
