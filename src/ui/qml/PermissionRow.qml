import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// One permission of the walkthrough: its state, what it is for, and while it is missing
// "Grant" and "Settings"; the first two also offer a "Test" that proves capture works.
ColumnLayout {
    id: permission

    // One entry of the walkthrough model's permissions.
    required property var row
    required property real micLevel

    signal grant
    signal openSettings(int index)
    signal test(int index)

    spacing: 4

    RowLayout {
        Layout.fillWidth: true
        OnboardingRow {
            Layout.fillWidth: true
            symbol: permission.row.symbol
            symbolColor: permission.row.symbolColor
            title: permission.row.title
            detail: permission.row.detail
        }
        Button {
            visible: !permission.row.granted
            text: "Grant"
            font.pointSize: 8
            Accessible.name: permission.row.grantName
            onClicked: permission.grant()
        }
        Button {
            visible: !permission.row.granted
            text: "Settings"
            font.pointSize: 8
            Accessible.name: permission.row.settingsName
            onClicked: permission.openSettings(permission.row.index)
        }
        Button {
            visible: permission.row.testable
            text: permission.row.testLabel
            font.pointSize: 8
            Accessible.name: permission.row.testName
            onClicked: permission.test(permission.row.index)
        }
    }

    RowLayout {
        Layout.fillWidth: true
        Layout.leftMargin: 30
        visible: permission.row.hasTestStatus
        ProgressBar {
            visible: permission.row.showsMeter
            Layout.preferredWidth: 80
            from: 0
            to: 1
            value: permission.micLevel
            Accessible.name: "Microphone level"
        }
        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            font.pointSize: 8
            text: permission.row.testStatus
            Accessible.name: text
        }
    }
}
