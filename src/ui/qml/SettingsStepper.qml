import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// A label that states the value and the stepper that changes it.
RowLayout {
    id: stepper

    required property string label
    required property string name
    required property numberRange range
    required property int value

    signal modified(int value)

    spacing: 8

    Label {
        Layout.fillWidth: true
        text: stepper.label
    }

    SpinBox {
        from: stepper.range.from
        to: stepper.range.to
        stepSize: stepper.range.step
        value: stepper.value
        Accessible.name: stepper.name
        onValueModified: stepper.modified(value)
    }
}
