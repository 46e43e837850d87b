import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// The settings window's controls, section by section; created while the window shows.
Pane {
    id: form

    // The window this form fills, and what it shows.
    readonly property SettingsSheet sheet: Window.window as SettingsSheet
    readonly property SettingsSheetModel model: sheet.model
    readonly property AppSettings settings: sheet.settings
    readonly property SessionController session: sheet.session

    padding: 0

    SystemPalette {
        id: systemPalette
    }

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
                onClicked: form.sheet.dismissed()
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
                                text: form.settings.apiKey
                                Accessible.name: "API key"
                                onTextEdited: form.settings.apiKey = text
                            }
                        }
                        Caption {
                            text: form.model.keyCaption
                        }
                        ChoicePicker {
                            Layout.fillWidth: true
                            label: "Realtime model"
                            choice: form.model.realtimeModel
                        }
                        RowLayout {
                            TextField {
                                Layout.fillWidth: true
                                placeholderText: "Custom model id"
                                text: form.model.customModel
                                Accessible.name: "Custom model id"
                                onTextEdited: form.model.customModel = text
                            }
                            Button {
                                text: "Use"
                                Accessible.name: text
                                onClicked: form.model.useCustomModel()
                            }
                        }
                        ChoicePicker {
                            Layout.fillWidth: true
                            label: "Transcription"
                            choice: form.model.transcribeModel
                        }
                        SettingsStepper {
                            Layout.fillWidth: true
                            label: form.model.cycleLabel
                            name: "Cycle session"
                            range: form.model.cycleRange
                            value: form.settings.reconnectMinutes
                            onModified: value => form.settings.reconnectMinutes = value
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
                            choice: form.model.meetingSource
                        }
                        Caption {
                            visible: form.model.showsSystemOutputCaption
                            text: "Captures what this computer plays from the sound server's monitor of your output (PipeWire or PulseAudio) — no virtual device, and no permission to ask for."
                        }
                        ChoicePicker {
                            Layout.fillWidth: true
                            visible: form.model.showsAppPicker
                            label: "Listen to"
                            choice: form.model.listenTo
                        }
                        Caption {
                            visible: form.model.showsAppPicker
                            text: "Apps that aren't making a sound yet can still be picked: the session starts on all of this computer's audio and narrows to that app the moment it plays."
                        }
                        Button {
                            visible: form.model.showsAppPicker
                            text: "Rescan apps"
                            Accessible.name: text
                            onClicked: form.model.rescanApps()
                        }
                        ChoicePicker {
                            Layout.fillWidth: true
                            visible: form.model.showsChannelPicker
                            label: "Meeting channel"
                            choice: form.model.meetingChannel
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
                            choice: form.model.microphone
                        }
                        ChoicePicker {
                            Layout.fillWidth: true
                            label: "Mic channel"
                            choice: form.model.micChannel
                        }
                        ChoicePicker {
                            Layout.fillWidth: true
                            label: "Send to model"
                            choice: form.model.streamSource
                        }
                        Caption {
                            text: form.model.streamCaption
                        }
                        Switch {
                            text: "Transcribe my answers (on-device)"
                            checked: form.settings.transcribeMyAnswers
                            Accessible.name: text
                            onToggled: form.settings.transcribeMyAnswers = checked
                        }
                        Caption {
                            text: "Your replies are transcribed locally with PocketSphinx, on-device speech recognition, and tucked behind a \"My answer\" toggle under each Velmora response. The transcription never uploads the mic audio — not to OpenAI, not anywhere."
                        }
                        Switch {
                            text: "Save session audio (.wav)"
                            checked: form.settings.saveAudio
                            Accessible.name: text
                            onToggled: form.settings.saveAudio = checked
                        }
                        Caption {
                            text: form.model.archiveCaption
                        }
                        Button {
                            text: "Rescan devices"
                            Accessible.name: text
                            onClicked: form.model.rescanDevices()
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
                                from: form.model.thresholdRange.from
                                to: form.model.thresholdRange.to
                                stepSize: form.model.thresholdRange.step
                                snapMode: Slider.SnapAlways
                                value: form.settings.vadThreshold
                                Accessible.name: "Threshold"
                                onMoved: form.model.setVadThreshold(value)
                            }
                            Label {
                                Layout.preferredWidth: 36
                                text: form.model.thresholdText
                            }
                        }
                        SettingsStepper {
                            Layout.fillWidth: true
                            label: form.model.prefixLabel
                            name: "Prefix padding"
                            range: form.model.prefixRange
                            value: form.settings.prefixPaddingMs
                            onModified: value => form.settings.prefixPaddingMs = value
                        }
                        SettingsStepper {
                            Layout.fillWidth: true
                            label: form.model.silenceLabel
                            name: "Silence duration"
                            range: form.model.silenceRange
                            value: form.settings.silenceDurationMs
                            onModified: value => form.settings.silenceDurationMs = value
                        }
                        Caption {
                            text: "Longer silence keeps natural pauses from cutting a speaker off mid-question."
                        }
                        SettingsStepper {
                            Layout.fillWidth: true
                            label: form.model.followUpLabel
                            name: "Merge follow-ups"
                            range: form.model.followUpRange
                            value: form.settings.followUpWindow
                            onModified: value => form.settings.followUpWindow = value
                        }
                        Caption {
                            text: "If the interviewer pauses and then adds to the same question, the extra words are merged into that question and the answer is regenerated for the complete version instead of starting a new item."
                        }
                        SegmentedPicker {
                            label: "Answer speed"
                            choice: form.model.answerSpeed
                        }
                        Caption {
                            text: form.model.answerSpeedCaption
                        }
                    }
                }

                GroupBox {
                    title: "Answer style"
                    Layout.fillWidth: true
                    ColumnLayout {
                        anchors.fill: parent
                        spacing: 6
                        SegmentedPicker {
                            label: "Length"
                            choice: form.model.answerLength
                        }
                        ChoicePicker {
                            Layout.fillWidth: true
                            label: "Language"
                            choice: form.model.answerLanguage
                        }
                        Caption {
                            text: "Applies on the next Start."
                        }
                    }
                }

                GroupBox {
                    title: "Appearance"
                    Layout.fillWidth: true
                    ColumnLayout {
                        anchors.fill: parent
                        spacing: 6
                        SegmentedPicker {
                            label: "Theme"
                            choice: form.model.theme
                        }
                        Caption {
                            text: "\"Match system\" follows the desktop's light or dark preference automatically. Shift+Ctrl+L toggles light/dark."
                        }
                        ChoicePicker {
                            Layout.fillWidth: true
                            label: "Font"
                            choice: form.model.fontFamily
                        }
                        RowLayout {
                            Label {
                                text: "Size"
                            }
                            Slider {
                                Layout.fillWidth: true
                                from: form.model.fontSizeRange.from
                                to: form.model.fontSizeRange.to
                                stepSize: form.model.fontSizeRange.step
                                snapMode: Slider.SnapAlways
                                value: form.settings.fontSize
                                Accessible.name: "Size"
                                onMoved: form.settings.fontSize = value
                            }
                            Label {
                                Layout.preferredWidth: 40
                                text: form.model.fontSizeText
                            }
                        }
                        Label {
                            Layout.fillWidth: true
                            wrapMode: Text.Wrap
                            text: "The quick brown fox answers the question."
                            font: form.model.previewFont
                            Accessible.name: "Preview"
                        }
                        Button {
                            text: "Reset"
                            Accessible.name: "Reset font"
                            onClicked: form.model.resetFont()
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
                        model: form.model.job
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
                            text: form.model.contextFilesText
                            font.pointSize: form.model.hasContextFiles ? 10 : 8
                        }
                        RowLayout {
                            Caption {
                                text: form.model.contextSizeText
                            }
                            Button {
                                text: "Clear"
                                enabled: form.model.canClearContext
                                Accessible.name: "Clear context"
                                onClicked: form.model.clearContext()
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
                                text: form.settings.systemPrompt
                                Accessible.name: "System prompt"
                                onTextChanged: form.settings.systemPrompt = text
                            }
                        }
                        Button {
                            text: "Reset to default"
                            Accessible.name: text
                            onClicked: form.model.resetPrompt()
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
                        Caption {
                            visible: GlobalKeys.summary.length > 0
                            text: GlobalKeys.summary
                            Accessible.name: text
                        }
                        RowLayout {
                            Button {
                                text: "Clear feed"
                                Accessible.name: text
                                onClicked: form.model.clearFeed()
                            }
                            Button {
                                text: "Copy transcript"
                                Accessible.name: text
                                onClicked: form.model.copyTranscript()
                            }
                            Button {
                                text: "Reveal recording"
                                Accessible.name: text
                                onClicked: form.model.revealRecording()
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
