#include "ui/StatusPillModel.h"

#include "ui/Tones.h"

QString StatusPillModel::label(Kind kind) {
    switch (kind) {
    case Kind::idle:
        return QStringLiteral("Idle");
    case Kind::connecting:
        return QStringLiteral("Connecting…");
    case Kind::connected:
        return QStringLiteral("Live");
    case Kind::reconnecting:
        return QStringLiteral("Reconnecting…");
    case Kind::failed:
        return QStringLiteral("Error");
    }
    return {};
}

QColor StatusPillModel::dotColor(Kind kind) {
    switch (kind) {
    case Kind::idle:
        return Tones::secondary();
    case Kind::connecting:
    case Kind::reconnecting:
        return Tones::orange();
    case Kind::connected:
        return Tones::green();
    case Kind::failed:
        return Tones::red();
    }
    return Tones::secondary();
}

void StatusPillModel::setStatus(int status) {
    if (status < int(Kind::idle) || status > int(Kind::failed))
        status = int(Kind::idle);
    if (int(m_kind) == status)
        return;
    m_kind = Kind(status);
    emit statusChanged();
}
