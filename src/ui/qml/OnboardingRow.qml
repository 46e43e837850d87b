import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A symbol, a bold title line and a secondary detail line.
RowLayout {
    id: row

    required property string symbol
    required property string title
    required property string detail
    property color symbolColor: palette.text

    spacing: 10

    Label {
        Layout.alignment: Qt.AlignTop
        Layout.preferredWidth: 20
        horizontalAlignment: Text.AlignHCenter
        text: row.symbol
        color: row.symbolColor
        font.pointSize: 13
    }

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 2
        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: row.title
            font.bold: true
            Accessible.name: text
        }
        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: row.detail
            opacity: 0.7
            Accessible.name: text
        }
    }
}
