import QtQuick
import Corvinel
import QtQuick.Controls

// A question typed rather than heard: Enter sends it, Escape leaves the field.
TextField {
    id: field

    required property SessionController session
    // Where the focus goes back to on Escape.
    property Item returnFocusTo: null

    function focusField() {
        field.forceActiveFocus();
    }

    AskFieldModel {
        id: model
        session: field.session
    }

    enabled: model.enabled
    placeholderText: model.placeholder
    Accessible.name: model.accessibleName
    Accessible.description: model.placeholder

    onAccepted: {
        if (model.submit(field.text))
            field.clear();
    }
    Keys.onEscapePressed: {
        if (field.returnFocusTo)
            field.returnFocusTo.forceActiveFocus();
        else
            field.focus = false;
    }

    Shortcut {
        sequence: model.shortcut
        context: Qt.WindowShortcut
        onActivated: field.focusField()
    }
}
