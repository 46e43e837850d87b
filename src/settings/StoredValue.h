#pragma once

#include <QStringList>
#include <QVariant>
#include <optional>

// Strict readers for stored settings. A value written in this process comes back typed; one
// read from the INI file in a fresh process comes back as text. Each reader accepts both forms
// of its own type and nothing else, so a wrong type falls back to the setting's default.
namespace StoredValue {
std::optional<bool> toBool(const QVariant& value);
std::optional<int> toInt(const QVariant& value);
std::optional<double> toDouble(const QVariant& value);
std::optional<QString> toString(const QVariant& value);
// INI gives a one-element list back as a plain string.
std::optional<QStringList> toStringList(const QVariant& value);
std::optional<QByteArray> toData(const QVariant& value);
} // namespace StoredValue
