#include "state/driveids.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator::DriveIds {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

QString fromBytes(const QByteArray &bytes, int length)
{
    QString out;
    out.reserve(length);
    for (int i = 0; i < length; ++i)
        out.append(QChar::fromLatin1(alphabet[quint8(bytes.at(i % bytes.size())) % 64]));
    return out;
}

QByteArray randomBytes(int n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes;
}

QByteArray hashBytes(const QString &key, int n)
{
    QByteArray out;
    QByteArray block = key.toUtf8();
    while (out.size() < n) {
        block = QCryptographicHash::hash(block, QCryptographicHash::Sha256);
        out += block;
    }
    return out.left(n);
}

QString digits(const QByteArray &bytes, int length)
{
    QString out;
    for (int i = 0; i < length; ++i)
        out.append(QChar(u'0' + quint8(bytes.at(i)) % 10));
    if (out.startsWith(u'0'))
        out[0] = u'1';
    return out;
}

} // namespace

QString newFileId()
{
    return u"1"_s + fromBytes(randomBytes(32), 32);
}
QString newDriveId()
{
    return u"0A"_s + fromBytes(randomBytes(17), 17);
}
QString newPermissionId()
{
    return digits(randomBytes(20), 20);
}
QString randomToken(int length)
{
    return fromBytes(randomBytes(length), length);
}
QString stableFileId(const QString &key)
{
    return u"1"_s + fromBytes(hashBytes(key, 32), 32);
}
QString stableDriveId(const QString &key)
{
    return u"0A"_s + fromBytes(hashBytes(key, 17), 17);
}
QString stablePermissionId(const QString &key)
{
    return digits(hashBytes(key, 20), 20);
}

} // namespace Tarnwick::Emulator::DriveIds
