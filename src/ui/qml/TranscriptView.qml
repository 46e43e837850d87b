import QtQuick
import Corvinel
import QtQuick.Controls

// The cards, newest at the bottom. While the reader is at the end the list follows new
// questions and streaming answers; once they scroll up it stays put and offers a pill instead.
// FollowBottom decides; this file reports the reader's moves to it and pins when told.
Item {
    id: view

    required property SessionController session
    required property AppSettings settings

    clip: true

    function reportMove() {
        follow.viewMoved(list.contentY, list.height, list.bottomMargin, list.itemAtIndex(list.count - 1));
    }

    Transcript {
        id: transcript
        pairs: view.session.pairs
        settings: view.settings
        session: view.session
    }


    FeedFingerprint {
        id: feed
        pairs: view.session.pairs
    }

    FollowBottom {
        id: follow
        fingerprint: feed.value
        userInput: list.moving || bar.pressed
        onPinRequested: list.positionViewAtEnd()
    }

    ListView {
        id: list

        anchors.fill: parent
        model: transcript.cards
        spacing: 14
        leftMargin: 14
        rightMargin: 14
        topMargin: 12
        bottomMargin: 12
        boundsBehavior: Flickable.StopAtBounds
        keyNavigationEnabled: false
        focus: true
        // Not "Transcript": the Stop banner offers a link of that name.
        Accessible.name: qsTr("Questions and answers")

        ScrollBar.vertical: ScrollBar {
            id: bar
        }

        onContentYChanged: view.reportMove()
        onHeightChanged: view.reportMove()
        onContentHeightChanged: {
            view.reportMove();
            follow.relayout();
        }

        // Keys scroll the way a drag would, so they count as the reader's own moves.
        Keys.onPressed: event => {
            if (event.key === Qt.Key_Up)
                list.flick(0, 600);
            else if (event.key === Qt.Key_Down)
                list.flick(0, -600);
            else if (event.key === Qt.Key_PageUp)
                list.flick(0, 2000);
            else if (event.key === Qt.Key_PageDown)
                list.flick(0, -2000);
            else if (event.key === Qt.Key_Home) {
                follow.leftEnd();
                list.positionViewAtBeginning();
            } else if (event.key === Qt.Key_End)
                follow.pillPressed();
            else
                event.accepted = false;
        }

        delegate: QACard {
            id: card
            width: ListView.view.width - ListView.view.leftMargin - ListView.view.rightMargin
            cards: card.ListView.view.model
        }
    }

    EmptyState {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        visible: transcript.cards.isEmpty
        fonts: transcript.fonts
    }

    Button {
        id: pill

        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: -pill.height
        opacity: 0
        enabled: follow.showsPill
        leftPadding: 12
        rightPadding: 12
        topPadding: 7
        bottomPadding: 7
        font: transcript.fonts.captionSemiboldFont
        text: follow.pillText
        Accessible.name: follow.pillText
        // An assistive press does not reach onClicked.
        Accessible.onPressAction: follow.pillPressed()
        onClicked: follow.pillPressed()

        contentItem: Row {
            spacing: 5

            Label {
                text: "\u2193"
                font: pill.font
            }
            Label {
                text: pill.text
                font: pill.font
            }
        }

        background: Rectangle {
            radius: pill.height / 2
            color: pill.palette.window
            border.width: 1
            border.color: pill.palette.mid
        }

        states: State {
            name: "shown"
            when: follow.showsPill
            PropertyChanges {
                pill.opacity: 1
                pill.anchors.bottomMargin: 12
            }
        }
        transitions: Transition {
            NumberAnimation {
                properties: "opacity,anchors.bottomMargin"
                duration: 180
                easing.type: Easing.InOutQuad
            }
        }
    }
}
