import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// One question and its answer, with the user's own answer folded below. Every text and
// condition comes from the card's roles (CardListModel); this file only lays them out.
Control {
    id: card

    required property string pairId
    required property string timestamp
    required property string question
    required property string answer
    required property string notice
    required property bool showsAnswer
    required property string placeholder
    required property bool isStreaming
    required property bool showsUpdated
    required property bool hasMyAnswer
    required property string myAnswerTitle
    required property string myAnswerCount
    required property string myAnswerBody
    required property bool isMyAnswerShown
    required property string chevron
    required property bool isTyped
    required property bool canRewrite
    required property string versionText
    required property bool hasPreviousVersion
    required property bool hasNextVersion
    required property string pictureUrl
    // The view's model: the fonts and the card actions.
    required property CardListModel cards

    // Card text the reader can select and copy but not edit; a drag selects, the list stays.
    component SelectableText: TextEdit {
        readOnly: true
        selectByMouse: true
        wrapMode: TextEdit.Wrap
        textFormat: TextEdit.PlainText
    }

    // A busy indicator at the size of a line of small print.
    component SmallSpinner: BusyIndicator {
        running: visible
        padding: 0
        implicitWidth: 16
        implicitHeight: 16
    }

    padding: 0
    implicitHeight: parts.implicitHeight
    Accessible.role: Accessible.Grouping
    Accessible.name: card.question

    ColumnLayout {
        id: parts
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: 10

        // The question, set off by a bar in the accent colour.
        Item {
            Layout.fillWidth: true
            implicitHeight: questionColumn.implicitHeight + 4

            Rectangle {
                width: 3
                anchors.top: parent.top
                anchors.bottom: parent.bottom
                color: card.palette.highlight
                opacity: 0.55
            }

            ColumnLayout {
                id: questionColumn
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.top: parent.top
                anchors.leftMargin: 13
                anchors.topMargin: 2
                spacing: 6

                RowLayout {
                    Layout.fillWidth: true
                    spacing: 6

                    Label {
                        text: "\u275D"
                        font: card.cards.fonts.metaSemiboldFont
                        color: card.palette.highlight
                        Accessible.ignored: true
                    }
                    Label {
                        text: qsTr("Interviewer")
                        font: card.cards.fonts.metaSemiboldFont
                        color: card.palette.highlight
                        Accessible.name: text
                    }
                    Control {
                        visible: card.showsUpdated
                        leftPadding: 5
                        rightPadding: 5
                        topPadding: 1
                        bottomPadding: 1
                        Accessible.name: qsTr("updated")
                        background: Rectangle {
                            radius: 4
                            color: card.palette.highlight
                            opacity: 0.18
                        }
                        contentItem: Label {
                            text: qsTr("updated")
                            font: card.cards.fonts.metaFont
                            color: card.palette.highlight
                        }
                    }
                    Item {
                        Layout.fillWidth: true
                    }
                    Label {
                        visible: card.isTyped
                        text: "\u2328"
                        font: card.cards.fonts.metaFont
                        color: card.palette.placeholderText
                        Accessible.name: qsTr("Typed")
                    }
                    Label {
                        text: card.timestamp
                        font: card.cards.fonts.metaMonoFont
                        color: card.palette.placeholderText
                        Accessible.name: text
                    }
                }

                // A question about the screen: its picture, small; a click shows it whole.
                Image {
                    visible: card.pictureUrl.length > 0
                    source: card.pictureUrl
                    Layout.preferredWidth: 240
                    Layout.preferredHeight: 135
                    Layout.maximumWidth: questionColumn.width
                    horizontalAlignment: Image.AlignLeft
                    fillMode: Image.PreserveAspectFit
                    asynchronous: true
                    sourceSize.width: 480
                    Accessible.role: Accessible.Button
                    Accessible.name: qsTr("Picture of the screen")
                    Accessible.onPressAction: card.cards.openPicture(card.pairId)

                    TapHandler {
                        onTapped: card.cards.openPicture(card.pairId)
                    }
                }

                SelectableText {
                    Layout.fillWidth: true
                    text: card.question
                    font: card.cards.fonts.questionFont
                    color: card.palette.text
                    selectionColor: card.palette.highlight
                    selectedTextColor: card.palette.highlightedText
                    Accessible.name: qsTr("Question")
                }
            }
        }

        // The answer box.
        Pane {
            Layout.fillWidth: true
            padding: 10
            Accessible.name: qsTr("Answer")
            // Midlight sits apart from the window's fill in the light and the dark palette.
            background: Rectangle {
                radius: 8
                color: card.palette.midlight
            }

            ColumnLayout {
                anchors.left: parent.left
                anchors.right: parent.right
                spacing: 6

                RowLayout {
                    Layout.fillWidth: true
                    spacing: 6

                    Label {
                        text: "\u2726"
                        font: card.cards.fonts.metaSemiboldFont
                        Accessible.ignored: true
                    }
                    Label {
                        text: qsTr("Velmora")
                        font: card.cards.fonts.metaSemiboldFont
                        Accessible.name: text
                    }
                    Item {
                        Layout.fillWidth: true
                    }
                    SmallSpinner {
                        visible: card.isStreaming
                        Accessible.name: qsTr("Answering")
                    }
                    ToolButton {
                        visible: card.showsAnswer
                        text: "\u2750"
                        font: card.cards.fonts.metaFont
                        padding: 2
                        ToolTip.text: card.cards.copyLabel
                        ToolTip.visible: hovered
                        Accessible.name: card.cards.copyLabel
                        onClicked: card.cards.copyAnswer(card.pairId)
                    }
                }

                SelectableText {
                    Layout.fillWidth: true
                    visible: card.showsAnswer
                    text: card.answer
                    font: card.cards.fonts.answerFont
                    color: card.palette.text
                    selectionColor: card.palette.highlight
                    selectedTextColor: card.palette.highlightedText
                    Accessible.name: qsTr("Answer text")
                }

                // What the service reported: why the answer stopped, or that the question was
                // lost. Where the answer is when there is none, else after it.
                Label {
                    Layout.fillWidth: true
                    visible: card.notice.length > 0
                    text: card.notice
                    wrapMode: Text.Wrap
                    font: card.cards.fonts.answerFont
                    color: card.palette.placeholderText
                    Accessible.name: text
                }

                TapHandler {
                    acceptedButtons: Qt.RightButton
                    enabled: card.canRewrite
                    onTapped: {
                        if (!rewriteMenu.item)
                            rewriteMenu.setSource("RewriteMenu.qml", {
                                cards: card.cards,
                                pairId: card.pairId
                            });
                        (rewriteMenu.item as RewriteMenu).popup();
                    }
                }

                // Rewrites of a finished answer, and the versions it has had.
                RowLayout {
                    Layout.fillWidth: true
                    visible: card.canRewrite || card.versionText.length > 0
                    spacing: 2

                    RewriteButtons {
                        visible: card.canRewrite
                        cards: card.cards
                        pairId: card.pairId
                    }
                    Item {
                        Layout.fillWidth: true
                    }
                    ToolButton {
                        visible: card.versionText.length > 0
                        enabled: card.hasPreviousVersion
                        text: "\u2039"
                        font: card.cards.fonts.metaSemiboldFont
                        padding: 3
                        Accessible.name: qsTr("Previous version")
                        onClicked: card.cards.stepVersion(card.pairId, -1)
                    }
                    Label {
                        visible: card.versionText.length > 0
                        text: card.versionText
                        font: card.cards.fonts.metaMonoFont
                        color: card.palette.placeholderText
                        Accessible.name: qsTr("Version %1").arg(text)
                    }
                    ToolButton {
                        visible: card.versionText.length > 0
                        enabled: card.hasNextVersion
                        text: "\u203A"
                        font: card.cards.fonts.metaSemiboldFont
                        padding: 3
                        Accessible.name: qsTr("Next version")
                        onClicked: card.cards.stepVersion(card.pairId, 1)
                    }
                }

                RowLayout {
                    visible: !card.showsAnswer
                    spacing: 6

                    SmallSpinner {
                        Accessible.name: card.placeholder
                    }
                    Label {
                        text: card.placeholder
                        font: card.cards.fonts.answerFont
                        color: card.palette.placeholderText
                        Accessible.name: text
                    }
                }
            }
        }

        // The user's own answer, folded unless the reader opened it.
        ColumnLayout {
            Layout.fillWidth: true
            visible: card.hasMyAnswer
            spacing: 6

            AbstractButton {
                id: toggle
                Accessible.role: Accessible.Button
                // One name in every state, so it can be found while the answer records.
                Accessible.name: "My answer"
                Accessible.description: card.myAnswerTitle
                // An assistive press does not reach onClicked here: it toggles by itself.
                Accessible.onPressAction: card.cards.toggleMyAnswer(card.pairId)
                onClicked: card.cards.toggleMyAnswer(card.pairId)

                contentItem: Row {
                    spacing: 5

                    Label {
                        anchors.verticalCenter: parent.verticalCenter
                        text: card.chevron
                        font.pointSize: 8
                        font.bold: true
                    }
                    Label {
                        anchors.verticalCenter: parent.verticalCenter
                        text: "\u25CF"
                        font: card.cards.fonts.metaFont
                    }
                    Label {
                        anchors.verticalCenter: parent.verticalCenter
                        text: card.myAnswerTitle
                        font: card.cards.fonts.answerMediumFont
                    }
                    Label {
                        anchors.verticalCenter: parent.verticalCenter
                        text: card.myAnswerCount
                        font: card.cards.fonts.answerFont
                        color: card.palette.placeholderText
                    }
                }
            }

            SelectableText {
                id: mine
                Layout.fillWidth: true
                leftPadding: 14
                text: card.myAnswerBody
                font: card.cards.fonts.answerFont
                color: card.palette.placeholderText
                selectionColor: card.palette.highlight
                selectedTextColor: card.palette.highlightedText
                Accessible.name: card.myAnswerTitle
                visible: false
                opacity: 0

                states: State {
                    name: "shown"
                    when: card.isMyAnswerShown
                    PropertyChanges {
                        mine.visible: true
                        mine.opacity: 1
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
                                duration: 120
                                easing.type: Easing.InOutQuad
                            }
                        }
                    },
                    Transition {
                        from: "shown"
                        SequentialAnimation {
                            NumberAnimation {
                                property: "opacity"
                                duration: 120
                                easing.type: Easing.InOutQuad
                            }
                            PropertyAction {
                                property: "visible"
                            }
                        }
                    }
                ]
            }
        }
    }

    // The answer's context menu, made at its first right-click: a menu on every card would be a
    // cost of every card. Outside the layouts, where it takes no room.
    Loader {
        id: rewriteMenu
    }
}
