#include "net/addresspolicy.h"
#include "net/endpoints.h"

#include <gtest/gtest.h>

using namespace Tarnwick;
using namespace Qt::StringLiterals;

TEST(Endpoints, defaultsAreGooglesAddressesAndOurManifest)
{
    const Endpoints e = Endpoints::defaults();
    EXPECT_EQ(e.authorization, QUrl(u"https://accounts.google.com/o/oauth2/v2/auth"_s));
    EXPECT_EQ(e.token, QUrl(u"https://oauth2.googleapis.com/token"_s));
    EXPECT_EQ(e.revocation, QUrl(u"https://oauth2.googleapis.com/revoke"_s));
    EXPECT_EQ(e.driveScope, u"https://www.googleapis.com/auth/drive"_s);
    EXPECT_EQ(e.api, QUrl(u"https://www.googleapis.com"_s));
    EXPECT_EQ(e.driveWeb, QUrl(u"https://drive.google.com"_s));
    EXPECT_EQ(e.googleDomain, u"google.com"_s);
    EXPECT_EQ(e.cloudConsole, QUrl(u"https://console.cloud.google.com"_s));
    EXPECT_EQ(e.updateManifest.scheme(), u"https"_s);
    EXPECT_EQ(e.updateManifest.path(), u"/tarnwick/latest.json"_s);
    EXPECT_EQ(e.apiUrl(u"/upload/drive/v3/files"_s),
              QUrl(u"https://www.googleapis.com/upload/drive/v3/files"_s));
}

TEST(Endpoints, loopbackBasePointsEveryAddressAtTheEmulator)
{
    const Endpoints e = Endpoints::withBase(QUrl(u"http://127.0.0.1:4567/ignored"_s));
    EXPECT_EQ(e.authorization, QUrl(u"http://127.0.0.1:4567/o/oauth2/v2/auth"_s));
    EXPECT_EQ(e.token, QUrl(u"http://127.0.0.1:4567/token"_s));
    EXPECT_EQ(e.revocation, QUrl(u"http://127.0.0.1:4567/revoke"_s));
    EXPECT_EQ(e.api, QUrl(u"http://127.0.0.1:4567"_s));
    EXPECT_EQ(e.apiUrl(u"/drive/v3/about"_s), QUrl(u"http://127.0.0.1:4567/drive/v3/about"_s));
    EXPECT_EQ(e.driveWeb, QUrl(u"http://127.0.0.1:4567"_s));
    EXPECT_EQ(e.cloudConsole, QUrl(u"http://127.0.0.1:4567"_s));
    EXPECT_EQ(e.updateManifest, QUrl(u"http://127.0.0.1:4567/tarnwick/latest.json"_s));
    EXPECT_EQ(e.googleDomain, u"127.0.0.1"_s);
    EXPECT_EQ(e.driveScope, Endpoints::defaults().driveScope); // an identifier, not an address
}

TEST(Endpoints, plainHttpBaseOffLoopbackIsIgnored)
{
    EXPECT_EQ(Endpoints::withBase(QUrl(u"http://drive.example.com:8080"_s)), Endpoints::defaults());
    EXPECT_EQ(Endpoints::withBase(QUrl(u"not a url at all"_s)), Endpoints::defaults());

    qputenv("TARNWICK_GOOGLE_BASE", "http://10.0.0.5:8080");
    EXPECT_EQ(Endpoints::fromEnvironment(), Endpoints::defaults());
    qputenv("TARNWICK_GOOGLE_BASE", "http://localhost:9000");
    EXPECT_EQ(Endpoints::fromEnvironment().token, QUrl(u"http://localhost:9000/token"_s));
    qunsetenv("TARNWICK_GOOGLE_BASE");
    EXPECT_EQ(Endpoints::fromEnvironment(), Endpoints::defaults());
}

TEST(Endpoints, apiEndpointCheckComparesSchemeHostAndPort)
{
    const Endpoints google = Endpoints::defaults();
    EXPECT_TRUE(google.isApiEndpoint(
        QUrl(u"https://www.googleapis.com/upload/drive/v3/files?upload_id=x"_s)));
    EXPECT_TRUE(google.isApiEndpoint(QUrl(u"https://WWW.googleapis.com:443/x"_s)));
    EXPECT_FALSE(google.isApiEndpoint(QUrl(u"http://www.googleapis.com/x"_s)));
    EXPECT_FALSE(google.isApiEndpoint(QUrl(u"https://www.googleapis.com:8443/x"_s)));
    EXPECT_FALSE(google.isApiEndpoint(QUrl(u"https://www.googleapis.com.evil.com/x"_s)));
    EXPECT_FALSE(google.isApiEndpoint(QUrl()));

    const Endpoints emulator = Endpoints::withBase(QUrl(u"http://127.0.0.1:4567"_s));
    EXPECT_TRUE(emulator.isApiEndpoint(QUrl(u"http://127.0.0.1:4567/upload/drive/v3/files"_s)));
    EXPECT_FALSE(emulator.isApiEndpoint(QUrl(u"http://127.0.0.1:4568/upload/drive/v3/files"_s)));
    EXPECT_FALSE(emulator.isApiEndpoint(QUrl(u"https://www.googleapis.com/upload"_s)));
}

TEST(Endpoints, currentCanBeReplacedForTests)
{
    const Endpoints emulator = Endpoints::withBase(QUrl(u"http://127.0.0.1:4567"_s));
    Endpoints::setCurrent(emulator);
    EXPECT_EQ(Endpoints::current(), emulator);
    Endpoints::setCurrent(Endpoints::defaults());
    EXPECT_EQ(Endpoints::current(), Endpoints::defaults());
}

TEST(AddressPolicy, onlyPublicAddressesArePublic)
{
    for (const char *address :
         {"127.0.0.1", "127.200.0.9", "10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.1.1",
          "169.254.169.254", "100.64.0.1", "0.0.0.0", "224.0.0.1", "255.255.255.255", "::", "::1",
          "fd00::1", "fe80::1%eth0", "ff02::1", "::ffff:127.0.0.1", "::ffff:10.0.0.1"})
        EXPECT_FALSE(AddressPolicy::isPublic(QHostAddress(QString::fromLatin1(address))))
            << address;
    for (const char *address :
         {"8.8.8.8", "142.250.74.46", "172.32.0.1", "2a00:1450:4001::200e", "::ffff:8.8.4.4"})
        EXPECT_TRUE(AddressPolicy::isPublic(QHostAddress(QString::fromLatin1(address)))) << address;
    EXPECT_FALSE(AddressPolicy::isPublic(QHostAddress()));
}

TEST(AddressPolicy, linksFromAnAnswerGoOnlyToHttpsPublicHostsOrTheConfiguredDriveOrigins)
{
    const Endpoints google = Endpoints::defaults();
    const Endpoints emulator = Endpoints::withBase(QUrl(u"http://127.0.0.1:4567"_s));
    for (const char *link : {"https://lh3.googleusercontent.com/abc=s220",
                             "https://drive.google.com/thumbnail?id=x", "https://8.8.8.8/t.png"})
        EXPECT_TRUE(AddressPolicy::mayFetchLink(QUrl(QString::fromLatin1(link)), google)) << link;
    for (const char *link :
         {"http://lh3.googleusercontent.com/abc", "http://127.0.0.1:4567/thumbnails/a",
          "https://127.0.0.1/t.png", "https://localhost/t.png", "https://a.localhost/t.png",
          "https://[::1]/t.png", "https://10.0.0.8/t.png", "https://169.254.169.254/latest",
          "https://[::ffff:192.168.0.1]/t.png", "file:///etc/passwd", "ftp://8.8.8.8/t.png", ""})
        EXPECT_FALSE(AddressPolicy::mayFetchLink(QUrl(QString::fromLatin1(link)), google)) << link;

    // A test setup's own server on this machine, and only that one.
    EXPECT_TRUE(
        AddressPolicy::mayFetchLink(QUrl(u"http://127.0.0.1:4567/thumbnails/a"_s), emulator));
    EXPECT_FALSE(
        AddressPolicy::mayFetchLink(QUrl(u"http://127.0.0.1:4568/thumbnails/a"_s), emulator));
    EXPECT_FALSE(
        AddressPolicy::mayFetchLink(QUrl(u"http://localhost:4567/thumbnails/a"_s), emulator));
}
