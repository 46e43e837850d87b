import QtQuick
import Corvinel
import QtQuick.Dialogs

// The file chooser: the desktop's own (through its portal) and, where there is none, Qt's
// dialog with the same title, filters and selection mode.
Item {
    id: root

    // Where the chooser opens; empty for where it opens by itself.
    property string folder

    signal chosen(var paths)

    function open(title: string, nameFilters: var, multiple: bool) {
        chooser.open(title, nameFilters, multiple, root.folder)
    }

    FileChooser {
        id: chooser
        onChosen: paths => root.chosen(paths)
        onFallbackRequested: {
            if (String(chooser.folderUrl) !== "")
                dialog.currentFolder = chooser.folderUrl
            dialog.open()
        }
    }

    FileDialog {
        id: dialog

        title: chooser.title
        nameFilters: chooser.nameFilters
        fileMode: chooser.multiple ? FileDialog.OpenFiles : FileDialog.OpenFile
        onAccepted: chooser.acceptUrls(dialog.selectedFiles)
    }
}
