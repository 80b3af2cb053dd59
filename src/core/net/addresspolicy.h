#pragma once

#include <QHostAddress>
#include <QUrl>

namespace Tarnwick {

struct Endpoints;

// Which addresses a link taken from a server's answer may lead to. A Drive answer names links
// (thumbnails) that Tarnwick fetches by itself; a hostile or compromised server could name this
// machine or the local network instead, and have Tarnwick probe services that trust those
// addresses.
namespace AddressPolicy {

// Whether the address is on the public internet: not unspecified, loopback, private (RFC 1918,
// carrier-grade NAT), link-local, unique-local or site-local, multicast, broadcast or reserved,
// nor an IPv4 address of those kinds mapped into IPv6.
bool isPublic(const QHostAddress &address);

// Whether a link named by a server's answer may be fetched: https to a host that is not a
// non-public address literal or "localhost", or any link on the configured Drive origins (where
// tests and the demo run their own server on this machine). The address a host name resolves to
// is checked again at connection time (HttpRequest::publicAddressesOnly).
bool mayFetchLink(const QUrl &url, const Endpoints &endpoints);

} // namespace AddressPolicy
} // namespace Tarnwick
