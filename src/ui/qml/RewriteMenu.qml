pragma ComponentBehavior: Bound
import QtQuick
import Corvinel
import QtQuick.Controls

// The rewrites again, in the answer's context menu.
Menu {
    id: menu

    required property CardListModel cards
    required property string pairId

    Repeater {
        model: menu.cards.rewriteStyles
        delegate: MenuItem {
            required property var modelData
            text: modelData.label
            Accessible.name: modelData.label
            onTriggered: menu.cards.rewrite(menu.pairId, modelData.style)
        }
    }
}
