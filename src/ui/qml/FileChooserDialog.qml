import QtQuick
import Corvinel
import QtQuick.Dialogs

// The file chooser: the desktop's own (through its portal) and, where there is none, Qt's
// dialog with the same title, filters and selection mode.
Item {
    id: root

    signal chosen(var paths)

    function open(title: string, nameFilters: var, multiple: bool) {
        chooser.open(title, nameFilters, multiple)
    }

    FileChooser {
        id: chooser
        onChosen: paths => root.chosen(paths)
        onFallbackRequested: dialog.open()
    }

    FileDialog {
        id: dialog

        title: chooser.title
        nameFilters: chooser.nameFilters
        fileMode: chooser.multiple ? FileDialog.OpenFiles : FileDialog.OpenFile
        onAccepted: chooser.acceptUrls(dialog.selectedFiles)
    }
}
