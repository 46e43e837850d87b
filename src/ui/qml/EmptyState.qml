import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// What the transcript shows before the first question is heard.
Control {
    id: empty

    required property CardFonts fonts

    padding: 24

    contentItem: ColumnLayout {
        spacing: 6

        Label {
            Layout.fillWidth: true
            text: qsTr("No answers yet")
            font: empty.fonts.headlineFont
            wrapMode: Text.Wrap
            Accessible.name: text
        }

        Label {
            Layout.fillWidth: true
            text: qsTr("Check what the model hears in Settings, load your context documents, then press Start. Questions heard on the line are transcribed and answered here.")
            font: empty.fonts.calloutFont
            color: palette.placeholderText
            wrapMode: Text.Wrap
            Accessible.name: text
        }
    }
}
