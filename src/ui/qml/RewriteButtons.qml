pragma ComponentBehavior: Bound
import QtQuick
import Corvinel
import QtQuick.Controls

// The rewrites a finished answer offers, in the order the card model gives them.
Row {
    id: row

    required property CardListModel cards
    required property string pairId

    spacing: 2

    Repeater {
        model: row.cards.rewriteStyles
        delegate: ToolButton {
            required property var modelData
            text: modelData.label
            font: row.cards.fonts.metaFont
            padding: 3
            Accessible.name: modelData.label
            onClicked: row.cards.rewrite(row.pairId, modelData.style)
        }
    }
}
