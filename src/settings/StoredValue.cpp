#include "settings/StoredValue.h"

#include <limits>

namespace StoredValue {
namespace {
bool isText(const QVariant& value) {
    return value.typeId() == QMetaType::QString;
}
} // namespace

std::optional<bool> toBool(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (!isText(value))
        return std::nullopt;
    const QString text = value.toString();
    if (text == QLatin1String("true"))
        return true;
    if (text == QLatin1String("false"))
        return false;
    return std::nullopt;
}

std::optional<int> toInt(const QVariant& value) {
    qlonglong number = 0;
    bool ok = false;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        number = value.toLongLong(&ok);
        break;
    case QMetaType::QString:
        number = value.toString().toLongLong(&ok);
        break;
    default:
        return std::nullopt;
    }
    if (!ok || number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(number);
}

std::optional<double> toDouble(const QVariant& value) {
    bool ok = false;
    double number = 0;
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
        number = value.toDouble(&ok);
        break;
    case QMetaType::QString:
        number = value.toString().toDouble(&ok);
        break;
    default:
        return std::nullopt;
    }
    return ok ? std::optional<double>(number) : std::nullopt;
}

std::optional<QString> toString(const QVariant& value) {
    return isText(value) ? std::optional<QString>(value.toString()) : std::nullopt;
}

std::optional<QString> toText(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return toString(value);
}

std::optional<QStringList> toStringList(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (isText(value))
        return QStringList{value.toString()};
    if (value.typeId() == QMetaType::QVariantList) {
        QStringList list;
        for (const QVariant& element : value.toList()) {
            if (!isText(element))
                return std::nullopt;
            list.append(element.toString());
        }
        return list;
    }
    return std::nullopt;
}

std::optional<QByteArray> toData(const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    // A hand-edited configuration file holds the panel as plain JSON text.
    if (isText(value))
        return value.toString().toUtf8();
    return std::nullopt;
}
std::optional<QString> rawIniValue(const QByteArray& ini, const QString& key) {
    // QSettings keeps settings outside any group under [General], and so does the file it
    // writes; lines before the first section belong there too.
    bool inGeneral = true;
    for (const QByteArray& rawLine : ini.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(u'[')) {
            inGeneral = line.compare(u"[General]", Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inGeneral || equals < 0 || line.left(equals).trimmed() != key)
            continue;
        return line.mid(equals + 1).trimmed();
    }
    return std::nullopt;
}
} // namespace StoredValue
