#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QObject;

// Looks up a key left by an earlier version in the desktop's secret store.
namespace Keychain {
// The Secret Service item with service "com.brisendo.corvinel" and this account, when it
// exists, is unlocked and holds non-empty UTF-8 text. Blocks on D-Bus: call off the main thread.
std::optional<QString> get(const QString& account);
} // namespace Keychain

// Keeps the user's OpenAI API key in a private file. A key that cannot be read counts as none
// and surfaces later as the realtime client's "No API key set" status; a key that cannot be
// saved, and a key file others could read, are told to the user in words.
namespace SecretStore {
using KeychainLookup = std::function<std::optional<QString>(const QString& account)>;

// $XDG_DATA_HOME/Corvinel (normally ~/.local/share/Corvinel).
QString directory();
// $XDG_DATA_HOME/Ostravelle, where the program kept its files under its former name.
QString legacyDirectory();
QString keyFilePath();

// The stored key, trimmed; empty when there is no regular file (a FIFO, device or link in its
// place is refused without waiting), it is unreadable or not UTF-8.
QString readKey();
// Trims the key; an empty key deletes the file. Otherwise an atomic write of a file that is
// 0600 from its first byte, in a folder created 0700. On failure, what to tell the user: the
// key would otherwise seem kept and be gone at the next start.
[[nodiscard]] std::optional<QString> save(const QString& key);
// Makes an existing key file 0600 and its folder 0700 when other users could get at them, and
// looks at the copy a former version left in the legacy folder, which stays where it is. What
// the user should be told, one sentence each; empty when everything is private.
QStringList securePermissions();
// Copies `fileName` from the legacy folder unless the current folder already holds one.
void migrateIfNeeded(const QString& fileName);
// One-time move of a key from the secret store into the key file. When a key is found and
// saved, `completion` runs on `context`'s thread with the key as found, unless `context` is
// gone by then. Nothing runs when a key file already holds a key.
void migrateFromKeychain(QObject* context, std::function<void(const QString&)> completion,
                         KeychainLookup lookup = Keychain::get);
} // namespace SecretStore
