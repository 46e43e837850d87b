import QtQuick
import Corvinel

// The file chooser: the desktop's own (through its portal) and, where there is none, Qt's
// dialog with the same title, filters and selection mode. Qt's is made at the first request
// that needs it, so where the portal answers its module is never loaded.
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
        window: root.Window.window
        onChosen: paths => root.chosen(paths)
        // Once made, the dialog answers later requests itself.
        onFallbackRequested: {
            if (!fallback.item)
                fallback.setSource("FallbackFileDialog.qml", {
                    chooser: chooser
                })
        }
    }

    Loader {
        id: fallback
    }
}
