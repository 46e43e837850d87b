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
// Free text, which a person may have typed into the file without quotes: the INI reader splits
// an unquoted value at its commas, so the parts are joined back with ", ".
std::optional<QString> toText(const QVariant& value);
// INI gives a one-element list back as a plain string.
std::optional<QStringList> toStringList(const QVariant& value);
std::optional<QByteArray> toData(const QVariant& value);
// The value of `key` in the general section of INI file text exactly as written, before the INI
// reader unquotes it or splits it at commas: what a hand-written JSON value needs. Nothing when
// the key is absent.
std::optional<QString> rawIniValue(const QByteArray& ini, const QString& key);
} // namespace StoredValue
