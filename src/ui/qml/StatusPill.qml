import QtQuick
import Corvinel
import QtQuick.Controls

// The connection state: a dot and a word.
Row {
    id: pill

    property int status

    spacing: 5
    Accessible.role: Accessible.StaticText
    Accessible.name: pillModel.label

    StatusPillModel {
        id: pillModel
        status: pill.status
    }

    Rectangle {
        anchors.verticalCenter: parent.verticalCenter
        width: 7
        height: 7
        radius: 3.5
        color: pillModel.dotColor
    }

    Label {
        anchors.verticalCenter: parent.verticalCenter
        text: pillModel.label
        font.pointSize: 9
        opacity: 0.7
    }
}
