#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

// An address the updater may fetch from, or the words that say why it may not.
struct UpdateAddress {
    QUrl url;
    std::optional<QString> error;

    // Only https, except plain http or https to this computer (127.0.0.1, ::1, localhost), where
    // a local test server or mirror answers. `what` names the address in the refusal
    // ("update feed", "download").
    static UpdateAddress check(const QString& text, const QString& what);
};

// What this build was configured with.
struct UpdateBuild {
    // The feed: OV_APPCAST_URL when set, else the address the build was made with.
    static UpdateAddress feed();
    // Base64 of the raw Ed25519 public key packages are signed with; empty in a build without.
    static QByteArray publicKey();
    // The version this program is, compared with the feed's.
    static QString version();
};
