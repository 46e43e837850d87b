#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QWindow>
#include <QtQml/qqmlregistration.h>

// Asks the user for files through the desktop's file chooser portal, which looks native on
// every desktop and works from a sandbox. Without the portal (or when it fails) it asks the
// view to show its own dialog instead (fallbackRequested), which hands its answer back to
// acceptUrls(). Either way the answer arrives as chosen(paths); a cancel sends nothing.
class FileChooser : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString title READ title NOTIFY requestChanged)
    Q_PROPERTY(QStringList nameFilters READ nameFilters NOTIFY requestChanged)
    Q_PROPERTY(bool multiple READ multiple NOTIFY requestChanged)
    // The folder it opens in: empty unless one that exists was asked for.
    Q_PROPERTY(QUrl folderUrl READ folderUrl NOTIFY requestChanged)
    // The window the chooser belongs to: the desktop keeps its dialog above it, which matters
    // while that window stays on top of the others.
    Q_PROPERTY(QWindow* window READ window WRITE setWindow NOTIFY windowChanged)

public:
    struct Filter {
        QString name;
        QStringList patterns;
    };

    explicit FileChooser(QObject* parent = nullptr);

    // "WAV audio (*.wav *.WAV)" → name "WAV audio", patterns *.wav and *.WAV.
    static Filter parseNameFilter(const QString& nameFilter);
    QWindow* window() const { return m_window; }
    void setWindow(QWindow* window);

    QString title() const { return m_title; }
    QStringList nameFilters() const { return m_nameFilters; }
    bool multiple() const { return m_multiple; }
    QUrl folderUrl() const { return m_folder.isEmpty() ? QUrl() : QUrl::fromLocalFile(m_folder); }

    // nameFilters in the form "Name (*.ext *.ext2)"; `folder` where it opens, if it exists.
    Q_INVOKABLE void open(const QString& title, const QStringList& nameFilters, bool multiple,
                          const QString& folder = QString());
    Q_INVOKABLE void acceptUrls(const QList<QUrl>& urls);

signals:
    void requestChanged();
    void windowChanged();
    void chosen(const QStringList& paths);
    void fallbackRequested();

private slots:
    void onResponse(uint response, const QVariantMap& results);

private:
    void fallBack();
    void stopListening();

    QPointer<QWindow> m_window;
    QString m_title;
    QStringList m_nameFilters;
    bool m_multiple = false;
    QString m_folder;
    QString m_requestPath;
    int m_requests = 0;
};
