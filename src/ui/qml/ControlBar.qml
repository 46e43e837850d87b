import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// Interim control bar: Start / Stop only, until the full bar lands.
Pane {
    id: bar

    required property SessionController session
    required property AppSettings settings
    required property Commands commands

    RowLayout {
        anchors.fill: parent
        Button {
            text: bar.session.isSessionActive ? "Stop" : "Start"
            Accessible.name: text
            onClicked: bar.session.isSessionActive ? bar.session.stop() : bar.session.start()
        }
    }
}
