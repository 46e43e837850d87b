import QtQuick
import Corvinel
import QtQuick.Controls

// The one window: the control bar, the banner and the cards. The application hands in the
// session controller and the settings; everything else is created here from them.
ApplicationWindow {
    id: window

    required property SessionController session
    required property AppSettings settings

    title: "Corvinel"
    width: 480
    height: 760
    minimumWidth: 420
    minimumHeight: 400
    visible: true

    Commands {
        id: commands
        settings: window.settings
    }

    ContentView {
        anchors.fill: parent
        session: window.session
        settings: window.settings
        commands: commands
    }
}
