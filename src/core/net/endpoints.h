#pragma once

#include <QString>
#include <QUrl>

namespace Tarnwick {

// Every outside address Tarnwick talks to, in one record.
//
// The defaults are Google's published values and Tarnwick's own update server. Setting the
// environment variable TARNWICK_GOOGLE_BASE to a loopback base such as http://127.0.0.1:PORT
// points every address at the local Drive emulator, which serves /o/oauth2/v2/auth, /token,
// /revoke, /drive/v3/…, /upload/drive/v3/… and /tarnwick/latest.json on one port. Plain http is
// accepted only for a loopback host; any other base is ignored with a warning and the defaults
// stay.
struct Endpoints
{
    // OAuth 2.0 authorization endpoint (opened in the browser).
    QUrl authorization;
    // OAuth 2.0 token endpoint.
    QUrl token;
    // OAuth 2.0 revocation endpoint (a refresh token is revoked when signing out).
    QUrl revocation;
    // The full-access Drive scope: an identifier, the same whatever the base.
    QString driveScope;
    // Scheme, host and port of the Drive API; requests go to /drive/v3/… and /upload/drive/v3/….
    QUrl api;
    // Drive's web pages (share links, "open in Drive").
    QUrl driveWeb;
    // Google's web domain, for the check that a page is Google's.
    QString googleDomain;
    // Google Cloud console (where a developer creates an OAuth client).
    QUrl cloudConsole;
    // The update manifest on Tarnwick's own server.
    QUrl updateManifest;

    // Google's values.
    static Endpoints defaults();
    // Every address on one loopback base (the emulator); Google's values when `base` is not
    // https and not http to a loopback host.
    static Endpoints withBase(const QUrl &base);
    // withBase(TARNWICK_GOOGLE_BASE) when the variable is set, else defaults().
    static Endpoints fromEnvironment();

    // The record in force: fromEnvironment() on first use, or what setCurrent() installed.
    static const Endpoints &current();
    // Tests and the demo install their own record; main thread.
    static void setCurrent(const Endpoints &endpoints);

    // api with the given path ("/drive/v3/files").
    QUrl apiUrl(const QString &path) const;
    // Whether `url` names the configured API endpoint: same scheme, host and port (default ports
    // filled in).
    bool isApiEndpoint(const QUrl &url) const;
    // Whether `url` has the scheme, host and port of the API or of Drive's web pages: the hosts a
    // test setup points at its own server, whatever address that server has.
    bool isDriveOrigin(const QUrl &url) const;

    bool operator==(const Endpoints &) const = default;
};

} // namespace Tarnwick
