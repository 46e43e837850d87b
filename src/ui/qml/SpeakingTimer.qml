import QtQuick
import Corvinel
import QtQuick.Controls

// How long the user has been answering, on a capsule that turns orange, then red.
Rectangle {
    id: timer

    property double elapsed
    property bool live

    implicitWidth: content.implicitWidth + 16
    implicitHeight: content.implicitHeight + 6
    radius: height / 2
    color: timerModel.fillColor
    border.color: timerModel.strokeColor
    border.width: 1
    opacity: timerModel.opacity
    Accessible.role: Accessible.StaticText
    Accessible.name: timerModel.text

    SpeakingTimerModel {
        id: timerModel
        elapsed: timer.elapsed
        live: timer.live
    }

    Row {
        id: content
        anchors.centerIn: parent
        spacing: 5

        Label {
            anchors.verticalCenter: parent.verticalCenter
            text: timerModel.symbol
            font.pointSize: 8
        }

        Label {
            anchors.verticalCenter: parent.verticalCenter
            text: timerModel.text
            color: timerModel.color
            font.family: "monospace"
            font.pointSize: 10
            font.weight: Font.DemiBold
        }
    }
}
