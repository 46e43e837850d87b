import QtQuick
import Corvinel
import QtQuick.Controls

// A small labelled bar for one audio level, moved by its model at most five times a second.
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

        // The level moves a clip over a bar of fixed size: a rounded rectangle that changed its
        // width would have its corners drawn again at every sample.
        Item {
            width: track.width * meterModel.fill
            height: track.height
            clip: true

            Rectangle {
                width: track.width
                height: track.height
                radius: track.radius
                color: meterModel.color
            }
        }
    }
}
