import QtQuick
import Corvinel
import QtQuick.Dialogs

// Qt's own file dialog, for a desktop without the file chooser portal: the chooser's title,
// filters, folder and selection mode. It opens as it is made, and again at every later request.
FileDialog {
    id: dialog

    required property FileChooser chooser

    function show() {
        if (String(dialog.chooser.folderUrl) !== "")
            dialog.currentFolder = dialog.chooser.folderUrl
        dialog.open()
    }

    title: dialog.chooser.title
    nameFilters: dialog.chooser.nameFilters
    fileMode: dialog.chooser.multiple ? FileDialog.OpenFiles : FileDialog.OpenFile
    onAccepted: dialog.chooser.acceptUrls(dialog.selectedFiles)
    Component.onCompleted: dialog.show()

    property Connections requests: Connections {
        target: dialog.chooser
        function onFallbackRequested() {
            dialog.show()
        }
    }
}
