pragma ComponentBehavior: Bound
import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// A labelled row of buttons, one per choice, the current one checked.
RowLayout {
    id: picker

    required property string label
    required property ChoiceList choice

    spacing: 4

    Label {
        text: picker.label
        Layout.rightMargin: 4
    }

    Repeater {
        model: picker.choice.labels
        delegate: Button {
            required property string modelData
            required property int index
            text: modelData
            checkable: true
            checked: picker.choice.currentIndex === index
            Accessible.name: modelData
            onClicked: picker.choice.select(index)
        }
    }
}
