import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// The walkthrough's header, the current step's body and the footer; created while it shows.
Pane {
    id: steps

    // The window this fills, and its model.
    readonly property OnboardingView view: Window.window as OnboardingView
    readonly property OnboardingModel model: view.model

    padding: 16

    ColumnLayout {
        anchors.fill: parent
        spacing: 12

        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            Label {
                text: steps.model.headerSymbol
                font.pointSize: 16
            }
            ColumnLayout {
                spacing: 2
                Label {
                    text: steps.model.title
                    font.bold: true
                    font.pointSize: 12
                    Accessible.name: text
                }
                Label {
                    text: steps.model.position
                    font.pointSize: 8
                    opacity: 0.7
                    Accessible.name: text
                }
            }
            Item {
                Layout.fillWidth: true
            }
            Row {
                spacing: 5
                Repeater {
                    model: steps.model.dotColors
                    delegate: Rectangle {
                        required property string modelData
                        width: 6
                        height: 6
                        radius: 3
                        color: modelData
                    }
                }
            }
        }

        ScrollView {
            id: scroller
            Layout.fillWidth: true
            Layout.fillHeight: true
            contentWidth: availableWidth

            ColumnLayout {
                width: scroller.availableWidth
                spacing: 10

                Label {
                    Layout.fillWidth: true
                    wrapMode: Text.Wrap
                    text: steps.model.intro
                }
                Label {
                    Layout.fillWidth: true
                    visible: steps.model.showsDocumentation
                    wrapMode: Text.Wrap
                    text: steps.model.introDetail
                }

                Repeater {
                    model: steps.model.rows
                    delegate: OnboardingRow {
                        required property var modelData
                        Layout.fillWidth: true
                        symbol: modelData.symbol
                        title: modelData.title
                        detail: modelData.detail
                    }
                }

                PermissionList {
                    Layout.fillWidth: true
                    visible: steps.model.showsPermissions
                    model: steps.model
                }

                ColumnLayout {
                    Layout.fillWidth: true
                    visible: steps.model.showsContext
                    spacing: 10
                    RowLayout {
                        Layout.fillWidth: true
                        OnboardingRow {
                            Layout.fillWidth: true
                            symbol: steps.model.cvSymbol
                            title: "Your CV"
                            detail: steps.model.cvDetail
                        }
                        Button {
                            text: "Load…"
                            Accessible.name: text
                            onClicked: steps.view.chooseDocuments(steps.model.chooserTitle,
                                                    steps.model.fileFilters, true)
                        }
                    }
                    Label {
                        text: "Job description and panel"
                        font.bold: true
                    }
                    JobContextView {
                        Layout.fillWidth: true
                        model: steps.model.job
                        compact: false
                    }
                }

                Label {
                    Layout.fillWidth: true
                    visible: steps.model.showsDocumentation
                    wrapMode: Text.Wrap
                    textFormat: Text.StyledText
                    text: steps.model.documentationLink
                    Accessible.name: "Documentation"
                    onLinkActivated: link => Qt.openUrlExternally(link)
                }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Button {
                visible: steps.model.backVisible
                text: "Back"
                Accessible.name: text
                onClicked: steps.model.move(-1)
            }
            Item {
                Layout.fillWidth: true
            }
            Button {
                visible: steps.model.skipVisible
                flat: true
                text: "Skip setup"
                Accessible.name: text
                onClicked: steps.model.finish()
            }
            Button {
                highlighted: true
                text: steps.model.primaryLabel
                Accessible.name: text
                onClicked: steps.model.primary()
            }
        }
    }
}
