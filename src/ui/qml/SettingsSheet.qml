pragma ComponentBehavior: Bound
import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// Every stored setting, in one dialog window beside the main one (a window of its own can be
// larger than the narrow window it belongs to). Return presses "Done", Escape closes.
Window {
    id: sheet

    required property SessionController session
    required property AppSettings settings
    readonly property alias model: sheetModel

    signal dismissed

    title: "Settings"
    flags: Qt.Dialog
    modality: Qt.WindowModal
    minimumWidth: 400
    minimumHeight: 420
    width: 520
    height: 640

    onVisibleChanged: sheetModel.setShown(visible)
    onClosing: sheet.dismissed()

    SystemPalette {
        id: systemPalette
    }

    SettingsSheetModel {
        id: sheetModel
        settings: sheet.settings
        session: sheet.session
    }

    Shortcut {
        sequences: ["Return", "Enter"]
        onActivated: sheet.dismissed()
    }
    Shortcut {
        sequence: "Escape"
        onActivated: sheet.dismissed()
    }

    Pane {
        anchors.fill: parent
        padding: 0

        ColumnLayout {
            anchors.fill: parent
            spacing: 0

            RowLayout {
                Layout.fillWidth: true
                Layout.margins: 12
                Label {
                    text: "Settings"
                    font.pointSize: 15
                    font.weight: Font.DemiBold
                }
                Item {
                    Layout.fillWidth: true
                }
                Button {
                    text: "Done"
                    highlighted: true
                    Accessible.name: text
                    onClicked: sheet.dismissed()
                }
            }

            MenuSeparator {
                Layout.fillWidth: true
                padding: 0
            }

            ScrollView {
                id: scroller
                Layout.fillWidth: true
                Layout.fillHeight: true
                contentWidth: availableWidth

                ColumnLayout {
                    width: scroller.availableWidth - 24
                    x: 12
                    spacing: 12

                    Item {
                        implicitHeight: 1
                    }

                    GroupBox {
                        title: "OpenAI"
                        Layout.fillWidth: true
                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 6
                            RowLayout {
                                Label {
                                    text: "API key"
                                }
                                TextField {
                                    objectName: "apiKey"
                                    Layout.fillWidth: true
                                    echoMode: TextInput.Password
                                    placeholderText: "sk-…"
                                    text: sheet.settings.apiKey
                                    Accessible.name: "API key"
                                    onTextEdited: sheet.settings.apiKey = text
                                }
                            }
                            Caption {
                                text: sheetModel.keyCaption
                            }
                            ChoicePicker {
                                Layout.fillWidth: true
                                label: "Realtime model"
                                choice: sheetModel.realtimeModel
                            }
                            RowLayout {
                                TextField {
                                    Layout.fillWidth: true
                                    placeholderText: "Custom model id"
                                    text: sheetModel.customModel
                                    Accessible.name: "Custom model id"
                                    onTextEdited: sheetModel.customModel = text
                                }
                                Button {
                                    text: "Use"
                                    Accessible.name: text
                                    onClicked: sheetModel.useCustomModel()
                                }
                            }
                            ChoicePicker {
                                Layout.fillWidth: true
                                label: "Transcription"
                                choice: sheetModel.transcribeModel
                            }
                            SettingsStepper {
                                Layout.fillWidth: true
                                label: sheetModel.cycleLabel
                                name: "Cycle session"
                                range: sheetModel.cycleRange
                                value: sheet.settings.reconnectMinutes
                                onModified: value => sheet.settings.reconnectMinutes = value
                            }
                        }
                    }

                    GroupBox {
                        title: "What the model hears — the other side"
                        Layout.fillWidth: true
                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 6
                            ChoicePicker {
                                Layout.fillWidth: true
                                label: "Source"
                                choice: sheetModel.meetingSource
                            }
                            Caption {
                                visible: sheetModel.showsSystemOutputCaption
                                text: "Captures what this Mac plays using a Core Audio process tap — no Dante, no virtual device. macOS will ask once for permission to record system audio."
                            }
                            ChoicePicker {
                                Layout.fillWidth: true
                                visible: sheetModel.showsAppPicker
                                label: "Listen to"
                                choice: sheetModel.listenTo
                            }
                            Caption {
                                visible: sheetModel.showsAppPicker
                                text: "Apps that aren't making a sound yet can still be picked: the session starts on all of this Mac's audio and narrows to that app the moment it plays."
                            }
                            Button {
                                visible: sheetModel.showsAppPicker
                                text: "Rescan apps"
                                Accessible.name: text
                                onClicked: sheetModel.rescanApps()
                            }
                            ChoicePicker {
                                Layout.fillWidth: true
                                visible: sheetModel.showsChannelPicker
                                label: "Meeting channel"
                                choice: sheetModel.meetingChannel
                            }
                        }
                    }

                    GroupBox {
                        title: "Your voice — input device"
                        Layout.fillWidth: true
                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 6
                            ChoicePicker {
                                Layout.fillWidth: true
                                label: "Microphone"
                                choice: sheetModel.microphone
                            }
                            ChoicePicker {
                                Layout.fillWidth: true
                                label: "Mic channel"
                                choice: sheetModel.micChannel
                            }
                            ChoicePicker {
                                Layout.fillWidth: true
                                label: "Send to model"
                                choice: sheetModel.streamSource
                            }
                            Caption {
                                text: sheetModel.streamCaption
                            }
                            Switch {
                                text: "Transcribe my answers (on-device)"
                                checked: sheet.settings.transcribeMyAnswers
                                Accessible.name: text
                                onToggled: sheet.settings.transcribeMyAnswers = checked
                            }
                            Caption {
                                text: "Your replies are transcribed locally with Apple's on-device speech recognition and tucked behind a \"My answer\" toggle under each Velmora response. The mic audio is never uploaded — not to OpenAI, not to Apple."
                            }
                            Switch {
                                text: "Save session audio (.wav)"
                                checked: sheet.settings.saveAudio
                                Accessible.name: text
                                onToggled: sheet.settings.saveAudio = checked
                            }
                            Caption {
                                text: sheetModel.archiveCaption
                            }
                            Button {
                                text: "Rescan devices"
                                Accessible.name: text
                                onClicked: sheetModel.rescanDevices()
                            }
                        }
                    }

                    GroupBox {
                        title: "Turn detection (server VAD)"
                        Layout.fillWidth: true
                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 6
                            RowLayout {
                                Label {
                                    text: "Threshold"
                                }
                                Slider {
                                    Layout.fillWidth: true
                                    from: sheetModel.thresholdRange.from
                                    to: sheetModel.thresholdRange.to
                                    stepSize: sheetModel.thresholdRange.step
                                    snapMode: Slider.SnapAlways
                                    value: sheet.settings.vadThreshold
                                    Accessible.name: "Threshold"
                                    onMoved: sheetModel.setVadThreshold(value)
                                }
                                Label {
                                    Layout.preferredWidth: 36
                                    text: sheetModel.thresholdText
                                }
                            }
                            SettingsStepper {
                                Layout.fillWidth: true
                                label: sheetModel.prefixLabel
                                name: "Prefix padding"
                                range: sheetModel.prefixRange
                                value: sheet.settings.prefixPaddingMs
                                onModified: value => sheet.settings.prefixPaddingMs = value
                            }
                            SettingsStepper {
                                Layout.fillWidth: true
                                label: sheetModel.silenceLabel
                                name: "Silence duration"
                                range: sheetModel.silenceRange
                                value: sheet.settings.silenceDurationMs
                                onModified: value => sheet.settings.silenceDurationMs = value
                            }
                            Caption {
                                text: "Longer silence keeps natural pauses from cutting a speaker off mid-question."
                            }
                            SettingsStepper {
                                Layout.fillWidth: true
                                label: sheetModel.followUpLabel
                                name: "Merge follow-ups"
                                range: sheetModel.followUpRange
                                value: sheet.settings.followUpWindow
                                onModified: value => sheet.settings.followUpWindow = value
                            }
                            Caption {
                                text: "If the interviewer pauses and then adds to the same question, the extra words are merged into that question and the answer is regenerated for the complete version instead of starting a new item."
                            }
                        }
                    }

                    GroupBox {
                        title: "Appearance"
                        Layout.fillWidth: true
                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 6
                            RowLayout {
                                Label {
                                    text: "Theme"
                                }
                                Repeater {
                                    model: sheetModel.theme.labels
                                    delegate: Button {
                                        id: segment
                                        required property string modelData
                                        required property int index
                                        text: modelData
                                        checkable: true
                                        checked: sheetModel.theme.currentIndex === index
                                        Accessible.name: modelData
                                        onClicked: sheetModel.theme.select(index)
                                    }
                                }
                            }
                            Caption {
                                text: "\"Match system\" follows macOS Appearance automatically. Shift+Ctrl+L toggles light/dark."
                            }
                            ChoicePicker {
                                Layout.fillWidth: true
                                label: "Font"
                                choice: sheetModel.fontFamily
                            }
                            RowLayout {
                                Label {
                                    text: "Size"
                                }
                                Slider {
                                    Layout.fillWidth: true
                                    from: sheetModel.fontSizeRange.from
                                    to: sheetModel.fontSizeRange.to
                                    stepSize: sheetModel.fontSizeRange.step
                                    snapMode: Slider.SnapAlways
                                    value: sheet.settings.fontSize
                                    Accessible.name: "Size"
                                    onMoved: sheet.settings.fontSize = value
                                }
                                Label {
                                    Layout.preferredWidth: 40
                                    text: sheetModel.fontSizeText
                                }
                            }
                            Label {
                                Layout.fillWidth: true
                                wrapMode: Text.Wrap
                                text: "The quick brown fox answers the question."
                                font: sheetModel.previewFont
                                Accessible.name: "Preview"
                            }
                            Button {
                                text: "Reset"
                                Accessible.name: "Reset font"
                                onClicked: sheetModel.resetFont()
                            }
                            Caption {
                                text: "Font and size are remembered across launches. Ctrl++ / Ctrl+− adjust size anytime, Ctrl+0 resets."
                            }
                        }
                    }

                    GroupBox {
                        title: "Job being applied for"
                        Layout.fillWidth: true
                        JobContextView {
                            anchors.fill: parent
                            model: sheetModel.job
                            compact: false
                        }
                    }

                    GroupBox {
                        title: "Context"
                        Layout.fillWidth: true
                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 6
                            Label {
                                Layout.fillWidth: true
                                wrapMode: Text.Wrap
                                text: sheetModel.contextFilesText
                                font.pointSize: sheetModel.hasContextFiles ? 10 : 8
                            }
                            RowLayout {
                                Caption {
                                    text: sheetModel.contextSizeText
                                }
                                Button {
                                    text: "Clear"
                                    enabled: sheetModel.canClearContext
                                    Accessible.name: "Clear context"
                                    onClicked: sheetModel.clearContext()
                                }
                            }
                        }
                    }

                    GroupBox {
                        title: "System prompt"
                        Layout.fillWidth: true
                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 6
                            ScrollView {
                                Layout.fillWidth: true
                                Layout.preferredHeight: 110
                                background: Rectangle {
                                    color: "transparent"
                                    radius: 5
                                    border.width: 1
                                    border.color: systemPalette.mid
                                }
                                TextArea {
                                    wrapMode: TextEdit.Wrap
                                    font.pointSize: 8
                                    text: sheet.settings.systemPrompt
                                    Accessible.name: "System prompt"
                                    onTextChanged: sheet.settings.systemPrompt = text
                                }
                            }
                            Button {
                                text: "Reset to default"
                                Accessible.name: text
                                onClicked: sheetModel.resetPrompt()
                            }
                        }
                    }

                    GroupBox {
                        title: "Session"
                        Layout.fillWidth: true
                        ColumnLayout {
                            anchors.fill: parent
                            spacing: 6
                            Caption {
                                text: "Changes to the model, prompt, context or VAD apply on the next Start."
                            }
                            RowLayout {
                                Button {
                                    text: "Clear feed"
                                    Accessible.name: text
                                    onClicked: sheetModel.clearFeed()
                                }
                                Button {
                                    text: "Copy transcript"
                                    Accessible.name: text
                                    onClicked: sheetModel.copyTranscript()
                                }
                                Button {
                                    text: "Reveal recording"
                                    Accessible.name: text
                                    onClicked: sheetModel.revealRecording()
                                }
                            }
                        }
                    }

                    Item {
                        implicitHeight: 4
                    }
                }
            }
        }
    }
}
