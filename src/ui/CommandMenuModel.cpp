#include "ui/CommandMenuModel.h"

namespace {
using Kind = CommandMenuModel::Kind;
} // namespace

CommandMenuModel::CommandMenuModel(QObject* parent) : QAbstractListModel(parent) {}

const QList<CommandMenuModel::Row>& CommandMenuModel::rows() {
    static const QList<Row> table = {
        {Kind::action,
         QStringLiteral("Check for Updates…"),
         QStringLiteral("checkForUpdates"),
         {},
         {}},
        {Kind::action,
         QStringLiteral("Ask About the Screen"),
         QStringLiteral("askAboutScreen"),
         {QStringLiteral("Shift+Ctrl+S")},
         QStringLiteral("Shift+Ctrl+S"),
         true,
         true},
        {Kind::action,
         QStringLiteral("Pick an Area…"),
         QStringLiteral("askAboutArea"),
         {QStringLiteral("Shift+Ctrl+Alt+S")},
         QStringLiteral("Shift+Ctrl+Alt+S")},
        {Kind::action,
         QStringLiteral("Transcribe Recording…"),
         QStringLiteral("transcribeRecording"),
         {QStringLiteral("Ctrl+O")},
         QStringLiteral("Ctrl+O"),
         true,
         true},
        {Kind::action,
         QStringLiteral("Open Session Review…"),
         QStringLiteral("openSessionReview"),
         {QStringLiteral("Shift+Ctrl+O")},
         QStringLiteral("Shift+Ctrl+O")},
        {Kind::toggle,
         QStringLiteral("Always on Top"),
         QStringLiteral("alwaysOnTop"),
         {QStringLiteral("Shift+Ctrl+T")},
         QStringLiteral("Shift+Ctrl+T"),
         true,
         true},
        {Kind::heading, QStringLiteral("Appearance"), {}, {}, {}, false, true},
        {Kind::choice, QStringLiteral("Match system"), QStringLiteral("appearance.system"), {}, {}},
        {Kind::choice, QStringLiteral("Light"), QStringLiteral("appearance.light"), {}, {}},
        {Kind::choice, QStringLiteral("Dark"), QStringLiteral("appearance.dark"), {}, {}},
        {Kind::action,
         QStringLiteral("Toggle Light / Dark"),
         QStringLiteral("toggleAppearance"),
         {QStringLiteral("Shift+Ctrl+L")},
         QStringLiteral("Shift+Ctrl+L")},
        {Kind::action,
         QStringLiteral("Bigger Text"),
         QStringLiteral("biggerText"),
         {QStringLiteral("Ctrl+="), QStringLiteral("Ctrl++")},
         QStringLiteral("Ctrl++"),
         true,
         true},
        {Kind::action,
         QStringLiteral("Smaller Text"),
         QStringLiteral("smallerText"),
         {QStringLiteral("Ctrl+-")},
         QStringLiteral("Ctrl+-")},
        {Kind::action,
         QStringLiteral("Reset Text Size"),
         QStringLiteral("resetTextSize"),
         {QStringLiteral("Ctrl+0")},
         QStringLiteral("Ctrl+0")},
    };
    return table;
}

void CommandMenuModel::setSettings(AppSettings* settings) {
    if (m_settings == settings)
        return;
    disconnect(m_topConnection);
    disconnect(m_appearanceConnection);
    m_settings = settings;
    if (settings) {
        m_topConnection = connect(settings, &AppSettings::alwaysOnTopChanged, this,
                                  &CommandMenuModel::refreshChecks);
        m_appearanceConnection = connect(settings, &AppSettings::appearanceChanged, this,
                                         &CommandMenuModel::refreshChecks);
    }
    refreshChecks();
}

bool CommandMenuModel::isChecked(const Row& row) const {
    if (!m_settings)
        return false;
    if (row.kind == Kind::toggle)
        return m_settings->alwaysOnTop();
    if (row.kind == Kind::choice)
        return row.command ==
               QStringLiteral("appearance.") + AppSettings::rawValue(m_settings->appearance());
    return false;
}

void CommandMenuModel::refreshChecks() {
    if (!rows().isEmpty())
        emit dataChanged(index(0), index(int(rows().size()) - 1), {CheckedRole});
}

int CommandMenuModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows().size());
}

QVariant CommandMenuModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = rows().at(index.row());
    switch (role) {
    case KindRole:
        return QVariant::fromValue(row.kind);
    case TextRole:
    case Qt::DisplayRole:
        return row.text;
    case CommandRole:
        return row.command;
    case ShortcutsRole:
        return QVariant(row.shortcuts).toList(); // Shortcut.sequences takes a variant list
    case ShortcutTextRole:
        return row.shortcutText;
    case EnabledRole:
        return row.enabled;
    case CheckableRole:
        return row.kind == Kind::toggle || row.kind == Kind::choice;
    case CheckedRole:
        return isChecked(row);
    case SeparatorAboveRole:
        return row.separatorAbove;
    case ActionsRole:
        return QVariant::fromValue(parent());
    default:
        return {};
    }
}

QHash<int, QByteArray> CommandMenuModel::roleNames() const {
    // Named apart from MenuItem's own (final) properties, so delegates can require them.
    return {{KindRole, "kind"},
            {TextRole, "label"},
            {CommandRole, "command"},
            {ShortcutsRole, "shortcuts"},
            {ShortcutTextRole, "shortcutText"},
            {EnabledRole, "available"},
            {CheckableRole, "canCheck"},
            {CheckedRole, "marked"},
            {SeparatorAboveRole, "separatorAbove"},
            {ActionsRole, "actions"}};
}
