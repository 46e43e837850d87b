#include "audio/NameSort.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>

namespace {

QCollator nameCollator() {
    // Under the C locale QCollator compares code points, which would put "beta" after "Zoom".
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    return collator;
}

template <typename Entry> void sortEntries(QList<Entry>& entries) {
    const QCollator collator = nameCollator();
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        return collator.compare(a.name, b.name) < 0;
    });
}

} // namespace

void sortByName(QList<AudioInputDevice>& devices) {
    sortEntries(devices);
}

void sortByName(QList<AudioProcessInfo>& processes) {
    sortEntries(processes);
}
