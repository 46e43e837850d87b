#include "settings/Interviewer.h"

#include <QJsonArray>
#include <QJsonDocument>

QString trimSpacesAndTabs(const QString& text) {
    auto isBlank = [](QChar c) { return c == u' ' || c == u'\t'; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

QString Interviewer::idText() const {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QString Interviewer::label(int index) const {
    const QString n = trimSpacesAndTabs(name);
    const QString t = trimSpacesAndTabs(title);
    if (!n.isEmpty() && !t.isEmpty())
        return n + QStringLiteral(" — ") + t;
    if (!n.isEmpty())
        return n;
    if (!t.isEmpty())
        return t;
    return QStringLiteral("Interviewer %1").arg(index + 1);
}

bool Interviewer::isBlank() const {
    return trimSpacesAndTabs(name).isEmpty() && trimSpacesAndTabs(title).isEmpty();
}

QJsonObject Interviewer::toJson() const {
    return QJsonObject{{QStringLiteral("id"), idText()},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("title"), title}};
}

std::optional<Interviewer> Interviewer::fromJson(const QJsonObject& object) {
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue name = object.value(QStringLiteral("name"));
    const QJsonValue title = object.value(QStringLiteral("title"));
    if (!id.isString() || !name.isString() || !title.isString())
        return std::nullopt;
    const QUuid uuid = QUuid::fromString(id.toString());
    // QUuid reports a parse failure as the nil UUID, which is itself a valid stored id.
    if (uuid.isNull() && id.toString() != QStringLiteral("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return Interviewer{uuid, name.toString(), title.toString()};
}

QByteArray encodePanel(const Panel& panel) {
    QJsonArray array;
    for (const Interviewer& member : panel)
        array.append(member.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<Panel> decodePanel(const QByteArray& data) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    Panel panel;
    for (const QJsonValue& value : document.array()) {
        if (!value.isObject())
            return std::nullopt;
        auto member = Interviewer::fromJson(value.toObject());
        if (!member)
            return std::nullopt;
        panel.append(*member);
    }
    return panel;
}
