pragma ComponentBehavior: Bound
import QtQuick
import Corvinel
import QtQuick.Layouts

// The walkthrough's permission rows, with what their buttons do.
ColumnLayout {
    id: list

    required property OnboardingModel model

    spacing: 10

    Repeater {
        model: list.model.permissions
        delegate: PermissionRow {
            required property var modelData
            Layout.fillWidth: true
            row: modelData
            micLevel: list.model.micLevel
            onGrant: list.model.recheck()
            onOpenSettings: index => list.model.openSettings(index)
            onTest: index => list.model.test(index)
        }
    }
}
