import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// A labelled picker over one of the settings' choice lists.
RowLayout {
    id: picker

    required property string label
    required property ChoiceList choice

    spacing: 8

    Label {
        text: picker.label
    }

    ComboBox {
        Layout.fillWidth: true
        model: picker.choice.labels
        currentIndex: picker.choice.currentIndex
        Accessible.name: picker.label
        onActivated: index => picker.choice.select(index)
    }
}
