#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QUrl>

#include <optional>

// The parts of the OAuth 2.0 authorization-code flow with PKCE that need no network, keychain
// or user interface. Stateless; safe on any thread.
namespace Tarnwick::OAuthUtilities {

// An application/x-www-form-urlencoded body: pairs sorted by key (by code point), every
// character except Unicode letters, marks, digits and "-._~" percent-encoded per UTF-8 byte with
// upper-case hex, so a space is "%20" and "&=+/:" are always escaped. Letters such as "é" stay
// as their raw UTF-8 bytes.
QByteArray form(const QMap<QString, QString> &fields);

// base64url without padding or line breaks.
QString base64URL(const QByteArray &data);

// The PKCE S256 challenge of a code verifier: base64URL(SHA-256(UTF-8 of verifier)).
QString challenge(const QString &verifier);

// What the bytes a connection to the loopback listener sent so far ask for.
struct LoopbackRequest
{
    enum class Kind {
        Incomplete, // the head has not ended yet, or does not decode as UTF-8
        Refused,    // anything but "GET /oauth/callback?… HTTP/…"
        Callback,
    };
    Kind kind = Kind::Incomplete;
    QString target; // a callback's request target, "/oauth/callback?…"

    bool operator==(const LoopbackRequest &) const = default;
};
LoopbackRequest readLoopbackRequest(const QByteArray &bytes);

// The authorization code in the redirect the browser came back with. Throws TarnwickError when
// the redirect does not carry exactly one "state" equal to expectedState (checked first, so an
// error redirect is only believed with the right state), when it carries an "error", or when
// "code" is missing or empty.
QString authorizationCode(const QUrl &url, const QString &expectedState);
// Whether the redirect carries exactly one "state", equal to expectedState.
bool carriesState(const QUrl &url, const QString &expectedState);

// The user's message for an error code of the authorization redirect, with " Google báo: " and
// detail appended when detail is present and not empty.
QString authorizationFailure(const QString &error, const std::optional<QString> &detail);

// The same for an error code of the token endpoint (code exchange and refresh).
QString tokenFailure(const QString &error, const std::optional<QString> &detail);

} // namespace Tarnwick::OAuthUtilities
