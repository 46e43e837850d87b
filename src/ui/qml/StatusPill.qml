import QtQuick
import Corvinel
import QtQuick.Controls

// The connection state: a dot and a word; hovering tells why, when the connection says.
Row {
    id: pill

    property int status
    property string message

    spacing: 5
    Accessible.role: Accessible.StaticText
    Accessible.name: pillModel.label
    Accessible.description: pillModel.message
    ToolTip.visible: hover.hovered && pillModel.hasMessage
    ToolTip.delay: 300
    ToolTip.text: pillModel.message

    StatusPillModel {
        id: pillModel
        status: pill.status
        message: pill.message
    }

    HoverHandler {
        id: hover
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
