#pragma once

#include "settings/AppSettings.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

// The commands menu, row by row: what the menu button shows and the shortcuts the window binds.
// Check marks follow the settings; every other field is fixed.
class CommandMenuModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("owned by Commands")

public:
    enum class Kind { action, toggle, heading, choice };
    Q_ENUM(Kind)
    enum Role {
        KindRole = Qt::UserRole + 1,
        TextRole,
        CommandRole,
        ShortcutsRole,
        ShortcutTextRole,
        EnabledRole,
        CheckableRole,
        CheckedRole,
        SeparatorAboveRole,
        ActionsRole, // the object whose trigger(command) runs the row
    };

    struct Row {
        Kind kind;
        QString text;
        QString command;
        QStringList shortcuts; // key sequences bound in the window; the first one is shown
        QString shortcutText;
        bool enabled = true;
        bool separatorAbove = false; // starts a new group
    };

    explicit CommandMenuModel(QObject* parent = nullptr);

    static const QList<Row>& rows();

    void setSettings(AppSettings* settings);
    bool isChecked(const Row& row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    void refreshChecks();

    QPointer<AppSettings> m_settings;
    QMetaObject::Connection m_topConnection;
    QMetaObject::Connection m_appearanceConnection;
};
