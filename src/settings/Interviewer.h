#pragma once

#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUuid>
#include <optional>

// One member of the interview panel. Compared by value.
struct Interviewer {
    Q_GADGET
    Q_PROPERTY(QString id READ idText CONSTANT)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QString title MEMBER title)

public:
    QUuid id = QUuid::createUuid();
    QString name;
    QString title;

    static Interviewer blank() { return Interviewer{}; }

    QString idText() const;
    // The text shown and sent for the member at zero-based panel position `index`.
    Q_INVOKABLE QString label(int index) const;
    // Name and title both blank after trimming spaces and tabs.
    bool isBlank() const;

    QJsonObject toJson() const;
    // All three keys are required; a malformed UUID or a non-string value fails.
    static std::optional<Interviewer> fromJson(const QJsonObject& object);

    friend bool operator==(const Interviewer&, const Interviewer&) = default;
};

using Panel = QList<Interviewer>;

// The panel's stored form: a JSON array of member objects.
QByteArray encodePanel(const Panel& panel);
// Nothing unless the data is an array whose every element decodes.
std::optional<Panel> decodePanel(const QByteArray& data);
// Trims spaces and tabs, never line breaks.
QString trimSpacesAndTabs(const QString& text);

Q_DECLARE_METATYPE(Interviewer)
