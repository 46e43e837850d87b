import QtQuick
import Corvinel
import QtQuick.Controls

// A small labelled bar for one audio level, sampled by its model at most 20 times a second.
Row {
    id: meter

    required property SessionController session
    // The meeting level rather than the mic level.
    property bool meeting: false
    property string label
    // A short bar still reads as a level; narrow windows need the room.
    property int trackWidth: 34

    spacing: 4
    Accessible.role: Accessible.ProgressBar
    Accessible.name: meter.label

    LevelMeterModel {
        id: meterModel
        session: meter.session
        meeting: meter.meeting
    }

    SystemPalette {
        id: systemPalette
    }

    Label {
        anchors.verticalCenter: parent.verticalCenter
        text: meter.label
        font.pixelSize: 8
        opacity: 0.7
    }

    Rectangle {
        id: track
        anchors.verticalCenter: parent.verticalCenter
        width: meter.trackWidth
        height: 5
        radius: 2.5
        color: systemPalette.midlight

        Rectangle {
            width: track.width * meterModel.fill
            height: track.height
            radius: track.radius
            color: meterModel.color
        }
    }
}
