// A stored resumable-upload session, read back at start-up. One that reads encodes to JSON that
// reads back to the same session.
#include "fuzzsupport.h"

#include "drive/decodingerror.h"
#include "records/uploadsession.h"

#include <QJsonDocument>

using namespace Tarnwick;
using namespace Tarnwick::Fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    UploadSession session;
    try {
        session = UploadSession::fromJsonBytes(bytesOf(data, size));
    } catch (const DecodingError &) {
        return 0;
    }
    const QByteArray stored = QJsonDocument(session.toJson()).toJson();
    try {
        check(UploadSession::fromJsonBytes(stored) == session, "a stored session reads back as itself",
              QString::fromUtf8(stored));
    } catch (const DecodingError &error) {
        broken("a stored session reads back", QString::fromUtf8(stored) + u'\n' + error.description());
    }
    return 0;
}
