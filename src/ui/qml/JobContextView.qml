pragma ComponentBehavior: Bound
import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// The role being applied for, the panel and the job description. Compact in the control
// bar's popover (headline, own padding, fixed width); the full form fills what it is given.
Pane {
    id: view

    required property JobContextModel model
    property bool compact: false

    signal saved

    padding: form.padding
    contentWidth: form.contentWidth
    Accessible.name: "Job context"

    JobEditorForm {
        id: form
        compact: view.compact
    }

    Connections {
        target: view.model
        function onSaved() {
            view.saved();
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 8

        Label {
            visible: form.showsHeadline
            text: "Role you're applying for"
            font.bold: true
        }

        RowLayout {
            Layout.fillWidth: true
            TextField {
                Layout.fillWidth: true
                placeholderText: "Company"
                text: view.model.companyName
                Accessible.name: "Company"
                onTextEdited: view.model.companyName = text
            }
            TextField {
                Layout.fillWidth: true
                placeholderText: "Role title"
                text: view.model.roleTitle
                Accessible.name: "Role title"
                onTextEdited: view.model.roleTitle = text
            }
        }

        Label {
            text: "Who is interviewing you"
        }

        Repeater {
            model: 2
            delegate: RowLayout {
                id: member
                required property int index
                Layout.fillWidth: true
                spacing: 8
                TextField {
                    Layout.preferredWidth: 140
                    placeholderText: "Name (optional)"
                    text: view.model.interviewerNames[member.index]
                    Accessible.name: "Name (optional)"
                    onTextEdited: view.model.setInterviewerName(member.index, text)
                }
                TextField {
                    Layout.fillWidth: true
                    placeholderText: "Job title, e.g. Delivery Director"
                    text: view.model.interviewerTitles[member.index]
                    Accessible.name: "Job title, e.g. Delivery Director"
                    onTextEdited: view.model.setInterviewerTitle(member.index, text)
                }
            }
        }

        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            font.pointSize: 9
            opacity: 0.7
            text: "Type their real titles. Answers are pitched at whoever asked: brief and outcome-led for a director, delivery detail for a manager, full technical depth for an engineer."
        }

        Label {
            text: "Job description — paste the full posting"
        }

        ScrollView {
            id: description
            Layout.fillWidth: true
            Layout.preferredHeight: form.descriptionHeight
            background: Rectangle {
                color: "transparent"
                radius: 5
                border.width: 1
                border.color: systemPalette.mid
            }
            TextArea {
                wrapMode: TextEdit.Wrap
                text: view.model.jobDescription
                Accessible.name: "Job description"
                onTextChanged: view.model.jobDescription = text
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Label {
                Layout.fillWidth: true
                text: view.model.countsLine
                font.pointSize: 9
                elide: Text.ElideRight
            }
            Button {
                text: "Paste"
                Accessible.name: text
                onClicked: view.model.paste()
            }
            Button {
                text: "Clear"
                enabled: view.model.canClear
                Accessible.name: text
                onClicked: view.model.clear()
            }
            Button {
                text: view.model.applyLabel
                highlighted: true
                Accessible.name: text
                onClicked: view.model.apply()
            }
        }
    }

    SystemPalette {
        id: systemPalette
    }
}
