// Drive's answers: items, listing pages, permissions, the account and error answers. An item or a
// permission that decodes must encode and decode to itself; a page never hands out a token seen
// before; an error answer always has a message.
#include "fuzzsupport.h"

#include "drive/decodingerror.h"
#include "drive/driveaccount.h"
#include "drive/driveclient.h"
#include "drive/drivefile.h"
#include "drive/drivepermission.h"

#include <QCryptographicHash>
#include <QSet>

using namespace Tarnwick;
using namespace Tarnwick::Fuzz;

namespace {

void roundTrip(const DriveFile &file)
{
    const DriveFile again = DriveFile::fromJsonBytes(file.toJsonBytes());
    check(again == file, "a decoded item encodes and decodes to itself",
          QString::fromUtf8(file.toJsonBytes()));
    (void)file.modifiedDate();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint8_t selector = takeSelector(data, size);
    const QByteArray body = bytesOf(data, size);
    try {
        switch (selector % 6) {
        case 0:
            roundTrip(DriveFile::fromJsonBytes(body));
            break;
        case 1:
        case 2: {
            QSet<QByteArray> seen{QCryptographicHash::hash("seen-before", QCryptographicHash::Sha256)};
            std::optional<QString> next;
            const QList<DriveFile> items = selector % 6 == 1
                                               ? DriveClient::readFilePage(body, seen, next)
                                               : DriveClient::readDrivePage(body, seen, next);
            for (const DriveFile &item : items)
                roundTrip(item);
            check(!next || (!next->isEmpty() && *next != QStringLiteral("seen-before")),
                  "a page never leads back to one read before");
            break;
        }
        case 3: {
            const DrivePermission permission = DrivePermission::fromJsonBytes(body);
            const DrivePermission again = DrivePermission::fromJson(permission.toJson());
            check(again == permission, "a decoded permission encodes and decodes to itself");
            break;
        }
        case 4:
            (void)DriveAccount::fromJsonBytes(body);
            break;
        case 5: {
            const int status = 400 + (size > 0 ? data[0] % 200 : 0);
            const DriveAPIError error = DriveClient::apiError(body, status);
            check(!error.message().isEmpty(), "an error answer always has a message");
            check(error.status() == status, "an error keeps its status");
            break;
        }
        }
    } catch (const DecodingError &) {
    }
    return 0;
}
