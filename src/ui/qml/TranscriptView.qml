import QtQuick
import Corvinel
import QtQuick.Controls

// Interim transcript: questions and answers as plain text, until the cards land.
ListView {
    id: list

    required property SessionController session
    required property AppSettings settings

    clip: true
    spacing: 14
    model: list.session.pairs
    delegate: Label {
        required property string question
        required property string answer
        width: ListView.view.width
        wrapMode: Text.Wrap
        text: question + "\n" + answer
        Accessible.name: question
    }
}
