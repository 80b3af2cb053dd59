#include "net/addresspolicy.h"

#include "net/endpoints.h"
#include "net/httpengine.h"

#include <QList>
#include <QPair>

using namespace Qt::StringLiterals;

namespace Tarnwick::AddressPolicy {

namespace {

using Subnet = QPair<QHostAddress, int>;

const QList<Subnet> &nonPublicSubnets()
{
    static const QList<Subnet> subnets = [] {
        QList<Subnet> list;
        for (const char *text :
             {"0.0.0.0/8", "10.0.0.0/8", "100.64.0.0/10", "127.0.0.0/8", "169.254.0.0/16",
              "172.16.0.0/12", "192.0.0.0/24", "192.168.0.0/16", "198.18.0.0/15", "224.0.0.0/4",
              "240.0.0.0/4", "::/128", "::1/128", "fc00::/7", "fe80::/10", "fec0::/10", "ff00::/8"})
            list.append(QHostAddress::parseSubnet(QString::fromLatin1(text)));
        return list;
    }();
    return subnets;
}

} // namespace

bool isPublic(const QHostAddress &address)
{
    if (address.isNull())
        return false;
    QHostAddress plain = address;
    // ::ffff:a.b.c.d reaches a.b.c.d.
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        bool mapped = false;
        const quint32 v4 = address.toIPv4Address(&mapped);
        if (mapped)
            plain = QHostAddress(v4);
    }
    plain.setScopeId(QString());
    for (const Subnet &subnet : nonPublicSubnets()) {
        if (plain.isInSubnet(subnet))
            return false;
    }
    return true;
}

bool mayFetchLink(const QUrl &url, const Endpoints &endpoints)
{
    if (!url.isValid() || url.host().isEmpty() || !HttpEngine::isAllowedUrl(url))
        return false;
    if (endpoints.isDriveOrigin(url))
        return true;
    if (url.scheme().compare(u"https"_s, Qt::CaseInsensitive) != 0)
        return false;
    const QString host = url.host().toLower();
    if (host == u"localhost"_s || host.endsWith(u".localhost"_s))
        return false;
    QHostAddress literal;
    return !literal.setAddress(host) || isPublic(literal);
}

} // namespace Tarnwick::AddressPolicy
