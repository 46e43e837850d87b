import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The small secondary text under a control.
Label {
    Layout.fillWidth: true
    wrapMode: Text.Wrap
    font.pointSize: 8
    opacity: 0.7
}
