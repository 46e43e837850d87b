#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

// What the notice strip shows besides its text: the symbol of each link and, while a
// recording is being transcribed, a progress bar.
class BannerModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(double progress READ progress WRITE setProgress NOTIFY progressChanged)
    Q_PROPERTY(bool showsProgress READ showsProgress NOTIFY progressChanged)
    Q_PROPERTY(QString infoSymbol READ infoSymbol CONSTANT)
    Q_PROPERTY(QString dismissSymbol READ dismissSymbol CONSTANT)

public:
    // "Folder" gets a folder, "Transcript" a document, any other label a waveform.
    static QString linkSymbol(const QString& label);

    explicit BannerModel(QObject* parent = nullptr) : QObject(parent) {}

    // 0…1 while a transcription runs; anything negative means none.
    double progress() const { return m_progress; }
    void setProgress(double progress);
    bool showsProgress() const { return m_progress >= 0; }
    QString infoSymbol() const;
    QString dismissSymbol() const;

    // A link's label with its symbol in front.
    Q_INVOKABLE QString linkCaption(const QString& label) const;

signals:
    void progressChanged();

private:
    double m_progress = -1;
};
