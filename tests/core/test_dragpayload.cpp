#include "records/dragpayload.h"
#include "support/qtprinters.h"

#include <QMimeData>
#include <gtest/gtest.h>

using namespace Tarnwick;
using namespace Qt::StringLiterals;

namespace {

DriveFile document()
{
    DriveFile file(u"doc1"_s, u"Kế hoạch"_s, u"application/vnd.google-apps.document"_s);
    file.modifiedTime = u"2024-05-01T08:30:15.123Z"_s;
    file.capabilities = DriveFile::Capabilities{std::nullopt, true, false, std::nullopt};
    return file;
}

DownloadDropItem driveItem(const DriveFile &file)
{
    return DownloadDropItem(file, std::nullopt, std::nullopt);
}

} // namespace

TEST(DragPayload, aDriveItemTravelsUnderBothFormatsAsTheSameJson)
{
    QMimeData data;
    DragPayload::setDriveFiles(data, {document()});
    EXPECT_TRUE(data.hasFormat(u"com.tarnwick.drive-file"_s));
    EXPECT_TRUE(data.hasFormat(u"application/json"_s));
    EXPECT_EQ(data.data(u"com.tarnwick.drive-file"_s), document().toJsonBytes());
    EXPECT_EQ(data.data(u"application/json"_s), document().toJsonBytes());
    EXPECT_EQ(DragPayload::downloadDropItems(data), QList{driveItem(document())});
}

TEST(DragPayload, anItemWithOnlyIdAndNameSurvivesWithNothingAdded)
{
    const DriveFile bare(u"x"_s, u"y"_s, std::nullopt);
    QMimeData data;
    DragPayload::setDriveFiles(data, {bare});
    const QList<DownloadDropItem> items = DragPayload::downloadDropItems(data);
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].driveFile, bare);
    EXPECT_FALSE(items[0].driveFile->capabilities.has_value());
    EXPECT_FALSE(items[0].url || items[0].text);
}

TEST(DragPayload, severalDriveItemsKeepTheirOrder)
{
    const DriveFile second(u"b"_s, u"B"_s, u"application/pdf"_s);
    QMimeData data;
    DragPayload::setDriveFiles(data, {document(), second});
    EXPECT_EQ(DragPayload::downloadDropItems(data),
              (QList{driveItem(document()), driveItem(second)}));
}

TEST(DragPayload, eitherFormatAloneIsReadAndThePrivateOneIsPreferred)
{
    const DriveFile other(u"other"_s, u"Other"_s, std::nullopt);
    QMimeData jsonOnly;
    jsonOnly.setData(u"application/json"_s, other.toJsonBytes());
    EXPECT_EQ(DragPayload::driveFiles(jsonOnly), QList{other});

    QMimeData both;
    both.setData(u"com.tarnwick.drive-file"_s, document().toJsonBytes());
    both.setData(u"application/json"_s, other.toJsonBytes());
    EXPECT_EQ(DragPayload::driveFiles(both), QList{document()});

    // A private payload that does not decode falls back to the JSON copy.
    QMimeData broken;
    broken.setData(u"com.tarnwick.drive-file"_s, "{");
    broken.setData(u"application/json"_s, other.toJsonBytes());
    EXPECT_EQ(DragPayload::driveFiles(broken), QList{other});
}

TEST(DragPayload, driveItemsWinOverUrlsAndUrlsOverText)
{
    QMimeData mixed;
    DragPayload::setDriveFiles(mixed, {document()});
    mixed.setUrls({QUrl(u"https://drive.google.com/file/d/abc/view"_s)});
    mixed.setText(u"some text"_s);
    EXPECT_EQ(DragPayload::downloadDropItems(mixed), QList{driveItem(document())});

    QMimeData link;
    link.setUrls({QUrl(u"https://drive.google.com/file/d/abc/view"_s),
                  QUrl::fromLocalFile(u"/home/u/a.txt"_s)});
    link.setText(u"https://drive.google.com/file/d/abc/view"_s);
    EXPECT_EQ(
        DragPayload::downloadDropItems(link),
        (QList{DownloadDropItem(std::nullopt, QUrl(u"https://drive.google.com/file/d/abc/view"_s),
                                std::nullopt),
               DownloadDropItem(std::nullopt, QUrl::fromLocalFile(u"/home/u/a.txt"_s),
                                std::nullopt)}));
}

TEST(DragPayload, textThatIsNotALinkStillArrivesAsText)
{
    QMimeData clip;
    clip.setText(u"xem file này nhé"_s);
    EXPECT_EQ(DragPayload::downloadDropItems(clip),
              QList{DownloadDropItem(std::nullopt, std::nullopt, u"xem file này nhé"_s)});

    // Foreign JSON is not a Drive item; the text of the same drop is still read.
    QMimeData foreign;
    foreign.setData(u"application/json"_s, R"({"hello":"world"})");
    foreign.setText(u"t"_s);
    EXPECT_EQ(DragPayload::downloadDropItems(foreign),
              QList{DownloadDropItem(std::nullopt, std::nullopt, u"t"_s)});

    EXPECT_TRUE(DragPayload::downloadDropItems(QMimeData()).isEmpty());
}

TEST(DragPayload, aLocalFileIsOfferedAsItsFileUrl)
{
    QMimeData data;
    DragPayload::setLocalFiles(data, {u"/home/u/Tài liệu/a b.txt"_s});
    ASSERT_EQ(data.urls().size(), 1);
    EXPECT_TRUE(data.urls()[0].isLocalFile());
    EXPECT_EQ(data.urls()[0].toLocalFile(), u"/home/u/Tài liệu/a b.txt"_s);
    EXPECT_FALSE(data.hasFormat(u"com.tarnwick.drive-file"_s));
}
