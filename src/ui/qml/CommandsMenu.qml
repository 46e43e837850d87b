import QtQuick
import Corvinel
import QtQuick.Controls
import QtQuick.Layouts

// The control bar's menu button: every command of the window, each with its shortcut. The items
// are made when the menu first shows: none of them costs the window's first frame.
ToolButton {
    id: button

    required property Commands commands

    text: "☰"
    Accessible.name: "Menu"
    onClicked: menu.open()

    Menu {
        id: menu

        y: button.height
        width: 300
        // A popup does not follow the application palette by itself.
        palette: button.palette

        property bool everShown: false
        onAboutToShow: menu.everShown = true

        Repeater {
            model: menu.everShown ? button.commands.menu : null

            delegate: MenuItem {
                id: item

                required property string label
                required property string command
                required property string shortcutText
                required property bool available
                required property bool canCheck
                required property bool marked
                required property bool separatorAbove
                required property Commands actions

                text: item.label
                enabled: item.available
                checkable: item.canCheck
                checked: item.marked
                Accessible.name: item.label
                onTriggered: item.actions.trigger(item.command)

                contentItem: RowLayout {
                    spacing: 16
                    Label {
                        Layout.fillWidth: true
                        leftPadding: item.indicator.width + item.spacing
                        text: item.text
                        enabled: item.enabled
                    }
                    Label {
                        text: item.shortcutText
                        enabled: item.enabled
                        opacity: 0.7
                    }
                }

                Rectangle {
                    anchors.top: parent.top
                    width: parent.width
                    height: 1
                    color: item.palette.mid
                    visible: item.separatorAbove
                }
            }
        }
    }
}
