#pragma once

#include <QObject>
#include <QStringList>
#include <QVariant>
#include <QtQml/qqmlregistration.h>
#include <functional>

// One picker of the settings: its rows (label and stored value), which row holds the stored
// value, and the write a choice makes. The rows are rebuilt by refresh(), which the owner calls
// whenever the setting or the lists behind the rows change; views hear changed() only when the
// labels or the current row really moved.
class ChoiceList : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by a view model")
    Q_PROPERTY(QStringList labels READ labels NOTIFY changed)
    Q_PROPERTY(int currentIndex READ currentIndex NOTIFY changed)

public:
    struct Row {
        QString label;
        QVariant value; // invalid: a row that only informs ("No apps found") and stores nothing
        friend bool operator==(const Row&, const Row&) = default;
    };
    using Rows = QList<Row>;

    ChoiceList(std::function<Rows()> rows, std::function<QVariant()> read,
               std::function<void(const QVariant&)> write, QObject* parent = nullptr);

    QStringList labels() const;
    // The first row whose value is the stored one; -1 when none is.
    int currentIndex() const { return m_current; }
    const Rows& rows() const { return m_rows; }

    // Stores the value of row `index`; rows without a value and indexes out of range do nothing.
    Q_INVOKABLE void select(int index);
    void refresh();

signals:
    void changed();

private:
    std::function<Rows()> m_makeRows;
    std::function<QVariant()> m_read;
    std::function<void(const QVariant&)> m_write;
    Rows m_rows;
    int m_current = -1;
};
