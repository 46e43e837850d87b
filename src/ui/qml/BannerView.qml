import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// Interim banner: the text and its links, until the full banner lands.
Pane {
    id: banner

    property string text
    property var links: []

    signal openLink(string id)
    signal dismiss

    RowLayout {
        anchors.fill: parent
        Label {
            Layout.fillWidth: true
            text: banner.text
            wrapMode: Text.Wrap
            Accessible.name: text
        }
        Repeater {
            model: banner.links
            delegate: Button {
                id: link
                required property var modelData
                text: link.modelData.label
                Accessible.name: link.text
                onClicked: banner.openLink(link.modelData.id)
            }
        }
        Button {
            text: "×"
            Accessible.name: "Dismiss"
            onClicked: banner.dismiss()
        }
    }
}
