#include "ui/BannerModel.h"

#include "base/Assign.h"
#include "ui/Symbols.h"

QString BannerModel::linkSymbol(const QString& label) {
    if (label == QLatin1String("Folder"))
        return Symbols::folder();
    if (label == QLatin1String("Transcript"))
        return Symbols::document();
    if (label == QLatin1String("Review"))
        return Symbols::chart();
    return Symbols::waveform();
}

void BannerModel::setProgress(double progress) {
    if (!assignIfChanged(m_progress, progress))
        return;
    emit progressChanged();
}

QString BannerModel::infoSymbol() const {
    return Symbols::info();
}

QString BannerModel::dismissSymbol() const {
    return Symbols::close();
}

QString BannerModel::linkCaption(const QString& label) const {
    return linkSymbol(label) + u' ' + label;
}
