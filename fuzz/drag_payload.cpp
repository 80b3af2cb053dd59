// What another program (or this one) drops on a pane: Drive items as JSON under either format,
// URLs and plain text. Every Drive item read from a drop writes back to the same payload it came
// from, and each download item carries exactly one thing.
#include "fuzzsupport.h"

#include "records/dragpayload.h"

#include <QMimeData>

using namespace Tarnwick;
using namespace Tarnwick::Fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint8_t selector = takeSelector(data, size);
    const QByteArray bytes = bytesOf(data, size);
    QMimeData mime;
    switch (selector % 4) {
    case 0:
        mime.setData(DragPayload::driveFileMimeType, bytes);
        break;
    case 1:
        mime.setData(DragPayload::jsonMimeType, bytes);
        break;
    case 2:
        mime.setData(QStringLiteral("text/uri-list"), bytes);
        break;
    case 3:
        mime.setText(QString::fromUtf8(bytes));
        break;
    }

    const QList<DriveFile> files = DragPayload::driveFiles(mime);
    if (!files.isEmpty()) {
        QMimeData again;
        DragPayload::setDriveFiles(again, files);
        check(DragPayload::driveFiles(again) == files, "dragged items read back as themselves");
    }
    for (const DownloadDropItem &item : DragPayload::downloadDropItems(mime)) {
        const int present = item.driveFile.has_value() + item.url.has_value() + item.text.has_value();
        check(present == 1, "a drop item carries exactly one thing");
    }
    return 0;
}
