pragma ComponentBehavior: Bound
import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// The first-launch walkthrough in four steps, in a dialog window over the main one. Closing it
// in any way marks it completed, so it shows once.
Window {
    id: view

    required property SessionController session
    required property AppSettings settings

    title: "Welcome to Corvinel"
    flags: Qt.Dialog
    modality: Qt.WindowModal
    minimumWidth: 400
    minimumHeight: 440
    width: 560
    height: 520
    visible: walkthrough.shown

    onClosing: walkthrough.finish()

    OnboardingModel {
        id: walkthrough
        objectName: "walkthrough"
        settings: view.settings
        session: view.session
    }

    Shortcut {
        sequences: ["Return", "Enter"]
        onActivated: walkthrough.primary()
    }
    Shortcut {
        sequence: "Escape"
        onActivated: walkthrough.finish()
    }

    FileChooserDialog {
        id: chooser
        onChosen: paths => walkthrough.loadDocuments(paths)
    }

    Pane {
        anchors.fill: parent
        padding: 16

        ColumnLayout {
            anchors.fill: parent
            spacing: 12

            RowLayout {
                Layout.fillWidth: true
                spacing: 8
                Label {
                    text: walkthrough.headerSymbol
                    font.pointSize: 16
                }
                ColumnLayout {
                    spacing: 2
                    Label {
                        text: walkthrough.title
                        font.bold: true
                        font.pointSize: 12
                        Accessible.name: text
                    }
                    Label {
                        text: walkthrough.position
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
                        model: walkthrough.dotColors
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
                        text: walkthrough.intro
                    }
                    Label {
                        Layout.fillWidth: true
                        visible: walkthrough.showsDocumentation
                        wrapMode: Text.Wrap
                        text: walkthrough.introDetail
                    }

                    Repeater {
                        model: walkthrough.rows
                        delegate: OnboardingRow {
                            required property var modelData
                            Layout.fillWidth: true
                            symbol: modelData.symbol
                            title: modelData.title
                            detail: modelData.detail
                        }
                    }

                    ColumnLayout {
                        Layout.fillWidth: true
                        visible: walkthrough.showsPermissions
                        spacing: 10
                        Repeater {
                            model: walkthrough.permissions
                            delegate: PermissionRow {
                                required property var modelData
                                Layout.fillWidth: true
                                row: modelData
                                micLevel: walkthrough.micLevel
                                onGrant: walkthrough.recheck()
                                onOpenSettings: walkthrough.openSettings()
                                onTest: index => walkthrough.test(index)
                            }
                        }
                    }

                    ColumnLayout {
                        Layout.fillWidth: true
                        visible: walkthrough.showsContext
                        spacing: 10
                        RowLayout {
                            Layout.fillWidth: true
                            OnboardingRow {
                                Layout.fillWidth: true
                                symbol: walkthrough.cvSymbol
                                title: "Your CV"
                                detail: walkthrough.cvDetail
                            }
                            Button {
                                text: "Load…"
                                Accessible.name: text
                                onClicked: chooser.open(walkthrough.chooserTitle,
                                                        walkthrough.fileFilters, true)
                            }
                        }
                        Label {
                            text: "Job description and panel"
                            font.bold: true
                        }
                        JobContextView {
                            Layout.fillWidth: true
                            model: walkthrough.job
                            compact: false
                        }
                    }

                    Label {
                        Layout.fillWidth: true
                        visible: walkthrough.showsDocumentation
                        wrapMode: Text.Wrap
                        textFormat: Text.StyledText
                        text: walkthrough.documentationLink
                        Accessible.name: "Documentation"
                        onLinkActivated: link => Qt.openUrlExternally(link)
                    }
                }
            }

            RowLayout {
                Layout.fillWidth: true
                Button {
                    visible: walkthrough.backVisible
                    text: "Back"
                    Accessible.name: text
                    onClicked: walkthrough.move(-1)
                }
                Item {
                    Layout.fillWidth: true
                }
                Button {
                    visible: walkthrough.skipVisible
                    flat: true
                    text: "Skip setup"
                    Accessible.name: text
                    onClicked: walkthrough.finish()
                }
                Button {
                    highlighted: true
                    text: walkthrough.primaryLabel
                    Accessible.name: text
                    onClicked: walkthrough.primary()
                }
            }
        }
    }
}
