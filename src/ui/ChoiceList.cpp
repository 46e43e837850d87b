#include "ui/ChoiceList.h"

ChoiceList::ChoiceList(std::function<Rows()> rows, std::function<QVariant()> read,
                       std::function<void(const QVariant&)> write, QObject* parent)
    : QObject(parent), m_makeRows(std::move(rows)), m_read(std::move(read)),
      m_write(std::move(write)) {
    refresh();
}

QStringList ChoiceList::labels() const {
    QStringList labels;
    labels.reserve(m_rows.size());
    for (const Row& row : m_rows)
        labels.append(row.label);
    return labels;
}

void ChoiceList::select(int index) {
    if (index < 0 || index >= m_rows.size() || !m_rows.at(index).value.isValid())
        return;
    m_write(m_rows.at(index).value);
    refresh();
}

void ChoiceList::refresh() {
    Rows rows = m_makeRows();
    const QVariant stored = m_read();
    int current = -1;
    for (int i = 0; i < rows.size(); ++i) {
        if (rows.at(i).value.isValid() && rows.at(i).value == stored) {
            current = i;
            break;
        }
    }
    if (rows == m_rows && current == m_current)
        return;
    m_rows = std::move(rows);
    m_current = current;
    emit changed();
}
