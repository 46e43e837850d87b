#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

// The job editor's two forms: compact in the control bar's popover, full inside settings.
class JobEditorForm : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool compact READ compact WRITE setCompact NOTIFY compactChanged)
    Q_PROPERTY(bool showsHeadline READ compact NOTIFY compactChanged)
    Q_PROPERTY(int padding READ padding NOTIFY compactChanged)
    // Inside the padding: the compact form is 420 wide in all; the full form asks for nothing
    // and takes the width it is given.
    Q_PROPERTY(int contentWidth READ contentWidth NOTIFY compactChanged)
    Q_PROPERTY(int descriptionHeight READ descriptionHeight NOTIFY compactChanged)

public:
    explicit JobEditorForm(QObject* parent = nullptr) : QObject(parent) {}

    bool compact() const { return m_compact; }
    void setCompact(bool compact) {
        if (m_compact == compact)
            return;
        m_compact = compact;
        emit compactChanged();
    }
    int padding() const { return m_compact ? 14 : 0; }
    int contentWidth() const { return m_compact ? 420 - 2 * 14 : 0; }
    int descriptionHeight() const { return m_compact ? 170 : 120; }

signals:
    void compactChanged();

private:
    bool m_compact = false;
};
