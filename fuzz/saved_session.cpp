// The saved transfer session (transfers.json), read at start-up. A list that decodes encodes to
// bytes that decode to the same list, and every entry comes back as a transfer.
#include "fuzzsupport.h"

#include "drive/decodingerror.h"
#include "transfer/savedtransfer.h"

using namespace Tarnwick;
using namespace Tarnwick::Fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QList<SavedTransfer> transfers;
    try {
        transfers = TransferStore::decode(bytesOf(data, size));
    } catch (const DecodingError &) {
        return 0;
    }
    const QByteArray stored = TransferStore::encode(transfers);
    try {
        check(TransferStore::decode(stored) == transfers, "a saved session reads back as itself",
              QString::fromUtf8(stored));
    } catch (const DecodingError &error) {
        broken("a saved session reads back", QString::fromUtf8(stored) + u'\n' + error.description());
    }
    for (const SavedTransfer &saved : std::as_const(transfers))
        (void)saved.restored();
    return 0;
}
