pragma ComponentBehavior: Bound
import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// The top strip. Row 1: Start / Stop, connection, clock, answer timer, levels, theme, text
// size, settings and the commands menu. Row 2: what is heard, saving, on top, job, context.
// The file chooser and the settings sheet belong to the window: the bar asks for them.
Pane {
    id: bar

    required property SessionController session
    required property AppSettings settings
    required property Commands commands
    readonly property alias model: barModel

    signal openSettings
    signal chooseContextFiles

    // Tight: every item of both rows fits the narrowest window (420 px).
    leftPadding: 6
    rightPadding: 6
    topPadding: 6
    bottomPadding: 6

    ControlBarModel {
        id: barModel
        session: bar.session
        settings: bar.settings
    }

    Component.onCompleted: barModel.refreshDevices()

    ColumnLayout {
        anchors.fill: parent
        spacing: 4

        RowLayout {
            Layout.fillWidth: true
            spacing: 2

            Button {
                id: startButton
                Accessible.name: barModel.startLabel
                onClicked: bar.commands.startOrStop()
                // The label keeps one width for "Start" and "Stop": the bar does not jump.
                leftPadding: 4
                rightPadding: 4
                Layout.preferredWidth: 48 + leftPadding + rightPadding
                contentItem: Label {
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    text: barModel.startCaption
                    font.pointSize: 9
                    color: "white"
                }
                background: Rectangle {
                    implicitHeight: 28
                    radius: 6
                    color: barModel.startColor
                }
            }

            StatusPill {
                status: bar.session.status
                message: bar.session.statusMessage
            }

            Button {
                flat: true
                padding: 1
                implicitWidth: implicitContentWidth + leftPadding + rightPadding
                implicitHeight: implicitContentHeight + topPadding + bottomPadding
                visible: barModel.showFilesVisible
                text: barModel.showFilesCaption
                font.pointSize: 8
                Accessible.name: "Show files"
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: barModel.showFilesHelp
                onClicked: bar.session.revealRecording()
            }

            Row {
                id: clock
                visible: barModel.clockVisible
                spacing: 2
                Accessible.role: Accessible.StaticText
                Accessible.name: barModel.clockText

                HoverHandler {
                    id: clockHover
                }
                ToolTip.visible: clockHover.hovered
                ToolTip.delay: 600
                ToolTip.text: barModel.clockHelp

                Label {
                    anchors.verticalCenter: parent.verticalCenter
                    text: barModel.clockSymbol
                    font.pointSize: 7
                }
                Label {
                    anchors.verticalCenter: parent.verticalCenter
                    text: barModel.clockText
                    font.pointSize: 8
                    font.family: "monospace"
                }
            }

            // The session's dollars, quiet; the whole cost line is its tooltip. It gives way
            // first when the row is short.
            Label {
                Layout.fillWidth: true
                Layout.minimumWidth: 0
                visible: barModel.costVisible
                text: barModel.costText
                elide: Text.ElideRight
                font.pointSize: 8
                opacity: 0.55
                Accessible.name: barModel.costText
                Accessible.description: barModel.costHelp

                HoverHandler {
                    id: costHover
                }
                ToolTip.visible: costHover.hovered
                ToolTip.delay: 600
                ToolTip.text: barModel.costHelp
            }

            Item {
                Layout.fillWidth: true
            }

            SpeakingTimer {
                id: answerTimer
                elapsed: bar.session.speakingElapsed
                live: bar.session.isSpeaking
                Accessible.name: "Answer timer"

                HoverHandler {
                    id: timerHover
                }
                ToolTip.visible: timerHover.hovered
                ToolTip.delay: 600
                ToolTip.text: barModel.answerTimerHelp

                states: State {
                    name: "hidden"
                    when: !barModel.answerTimerVisible
                    PropertyChanges {
                        target: answerTimer
                        visible: false
                        scale: 0
                    }
                }
                transitions: Transition {
                    from: "hidden"
                    SequentialAnimation {
                        PropertyAction {
                            property: "visible"
                        }
                        NumberAnimation {
                            property: "scale"
                            duration: 180
                            easing.type: Easing.OutBack
                        }
                    }
                }
            }

            Label {
                id: lastAnswer
                text: barModel.lastAnswerText
                font.pointSize: 8
                // Hidden is the base state, so a window that opens without one animates nothing.
                visible: false
                opacity: 0
                Accessible.name: barModel.lastAnswerText

                states: State {
                    name: "shown"
                    when: barModel.lastAnswerVisible
                    PropertyChanges {
                        target: lastAnswer
                        visible: true
                        opacity: 0.45
                    }
                }
                transitions: [
                    Transition {
                        to: "shown"
                        SequentialAnimation {
                            PropertyAction {
                                property: "visible"
                            }
                            NumberAnimation {
                                property: "opacity"
                                duration: 200
                            }
                        }
                    },
                    Transition {
                        from: "shown"
                        SequentialAnimation {
                            NumberAnimation {
                                property: "opacity"
                                duration: 200
                            }
                            PropertyAction {
                                property: "visible"
                            }
                        }
                    }
                ]
            }

            LevelMeter {
                session: bar.session
                label: barModel.micMeterLabel
                spacing: 2
                trackWidth: 20

                HoverHandler {
                    id: micHover
                }
                ToolTip.visible: micHover.hovered
                ToolTip.delay: 600
                ToolTip.text: barModel.micMeterHelp
            }

            LevelMeter {
                session: bar.session
                meeting: true
                label: barModel.meetingMeterLabel
                spacing: 2
                trackWidth: 20
            }

            Button {
                flat: true
                padding: 1
                implicitWidth: implicitContentWidth + leftPadding + rightPadding
                implicitHeight: implicitContentHeight + topPadding + bottomPadding
                enabled: bar.session.isSessionActive
                text: barModel.screenSymbol
                Accessible.name: "Ask About the Screen"
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: barModel.screenHelp
                onClicked: bar.session.askAboutScreen(false)
            }

            Button {
                flat: true
                padding: 1
                implicitWidth: implicitContentWidth + leftPadding + rightPadding
                implicitHeight: implicitContentHeight + topPadding + bottomPadding
                text: barModel.themeSymbol
                Accessible.name: "Toggle light / dark"
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: barModel.themeHelp
                onClicked: bar.commands.toggleAppearance()
            }

            Row {
                spacing: 0
                Button {
                    flat: true
                    padding: 1
                    implicitWidth: implicitContentWidth + leftPadding + rightPadding
                    implicitHeight: implicitContentHeight + topPadding + bottomPadding
                    text: barModel.smallerSymbol
                    Accessible.name: "Smaller answer text"
                    ToolTip.visible: hovered
                    ToolTip.delay: 600
                    ToolTip.text: barModel.smallerHelp
                    onClicked: bar.commands.smallerText()
                }
                Button {
                    flat: true
                    padding: 1
                    implicitWidth: implicitContentWidth + leftPadding + rightPadding
                    implicitHeight: implicitContentHeight + topPadding + bottomPadding
                    text: barModel.biggerSymbol
                    Accessible.name: "Bigger answer text"
                    ToolTip.visible: hovered
                    ToolTip.delay: 600
                    ToolTip.text: barModel.biggerHelp
                    onClicked: bar.commands.biggerText()
                }
            }

            Button {
                flat: true
                padding: 1
                implicitWidth: implicitContentWidth + leftPadding + rightPadding
                implicitHeight: implicitContentHeight + topPadding + bottomPadding
                text: barModel.settingsSymbol
                Accessible.name: "Settings"
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: barModel.settingsHelp
                onClicked: bar.openSettings()
            }

            CommandsMenu {
                commands: bar.commands
                padding: 1
                implicitWidth: implicitContentWidth + leftPadding + rightPadding
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 2

            Button {
                // The one item of the row that gives way when the window is narrow.
                Layout.fillWidth: true
                Layout.minimumWidth: 40
                flat: true
                padding: 2
                implicitHeight: implicitContentHeight + topPadding + bottomPadding
                text: barModel.hearingCaption
                font.pointSize: 9
                contentItem: Label {
                    text: barModel.hearingCaption
                    font.pointSize: 9
                    elide: Text.ElideRight
                }
                Accessible.name: "Hearing"
                Accessible.description: barModel.hearingHelp
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: barModel.hearingHelp
                onClicked: bar.openSettings()
            }

            CheckBox {
                padding: 1
                spacing: 3
                font.pointSize: 9
                text: "Save .wav"
                checked: bar.settings.saveAudio
                enabled: barModel.saveAudioEnabled
                Accessible.name: text
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: barModel.saveAudioHelp
                onToggled: bar.settings.saveAudio = checked
            }

            CheckBox {
                padding: 1
                spacing: 3
                font.pointSize: 9
                text: "On top"
                checked: bar.settings.alwaysOnTop
                Accessible.name: text
                onToggled: bar.settings.alwaysOnTop = checked
            }

            Button {
                id: jobButton
                padding: 4
                implicitWidth: implicitContentWidth + leftPadding + rightPadding
                font.pointSize: 9
                text: barModel.jobCaption
                Accessible.name: "Job"
                ToolTip.visible: hovered && !jobPopup.visible
                ToolTip.delay: 600
                ToolTip.text: barModel.jobHelp
                onClicked: jobPopup.open()

                Popup {
                    id: jobPopup
                    y: jobButton.height
                    // Kept inside the window, which may be narrower than the editor's place.
                    margins: 8
                    padding: 0
                    focus: true
                    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
                    // The editor exists while the popup shows (what is typed lives in the model):
                    // none of it costs the window's first frame.
                    onAboutToShow: jobEditor.setSource("JobContextView.qml", {
                        model: barModel.job,
                        compact: true
                    })
                    onClosed: jobEditor.source = ""

                    Loader {
                        id: jobEditor
                    }
                    Connections {
                        target: jobEditor.item as JobContextView
                        function onSaved() {
                            jobPopup.close();
                        }
                    }
                }
            }

            Button {
                padding: 4
                implicitWidth: implicitContentWidth + leftPadding + rightPadding
                font.pointSize: 9
                text: barModel.contextCaption
                Accessible.name: "Context"
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: barModel.contextHelp
                onClicked: bar.chooseContextFiles()
            }
        }
    }
}
