// Planning transfers: names in a batch, the existing-folder question, Google documents, drops,
// links, hostile Drive names and odd local trees; trees compared file by file by SHA-256.
#include "queuetesting.h"
#include "support/qtprinters.h"
#include "support/testsupport.h"

#include "async/runsync.h"
#include "records/localnames.h"
#include "transfer/downloadplan.h"
#include "transfer/transferqueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using State = TransferState;

namespace {

class Planning : public QueueTest
{
protected:
    DriveFile withName(const QString &id) const { return driveFile(id); }
};

TEST_F(Planning, TwoItemsOfOneNameInABatchGetTheirOwnNames)
{
    const QString a = emulator.createFile(account.email, u"a.txt"_s, "first");
    const QString b = emulator.createFile(account.email, u"a.txt"_s, "second one");
    download({driveFile(a), driveFile(b)}, localDir.path());
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(sha256OfFile(local(u"a.txt"_s)), emulator.contentSha256(a));
    EXPECT_EQ(sha256OfFile(local(u"a 2.txt"_s)), emulator.contentSha256(b));
}

TEST_F(Planning, AnExistingLocalFolderIsContinuedOrANewOneMade)
{
    const QString photos = emulator.createFolder(account.email, u"Photos"_s);
    const QString one = emulator.createFile(account.email, u"1.jpg"_s, bytes(5000, 1), photos);
    const QString two = emulator.createFile(account.email, u"2.jpg"_s, bytes(6000, 2), photos);
    writeFile(local(u"Photos/1.jpg"_s), bytes(5000, 1));

    desktop.answerAlert(0); // "Tải tiếp vào thư mục này"
    download({driveFile(photos)}, localDir.path());
    ASSERT_EQ(desktop.alerts.size(), 1);
    EXPECT_EQ(desktop.alerts[0].title, u"Đã có thư mục \"Photos\" ở đây");
    EXPECT_EQ(desktop.alerts[0].buttons[0].text, u"Tải tiếp vào thư mục này");
    EXPECT_EQ(desktop.alerts[0].buttons[1].text, u"Tạo thư mục mới");
    ASSERT_TRUE(allFinished());
    // The complete file was skipped: only the missing one was fetched.
    EXPECT_TRUE(mediaRequests(one).isEmpty());
    EXPECT_EQ(mediaRequests(two).size(), 1);
    EXPECT_EQ(localTree(local(u"Photos"_s)), driveTree(photos));

    desktop.answerAlert(1); // "Tạo thư mục mới"
    download({driveFile(photos)}, localDir.path());
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(localTree(local(u"Photos 2"_s)), driveTree(photos));
}

// A file is put in place after the worker has gone on to the next: a failure there still counts
// against that file alone, keeps its part file, and a retry places it.
TEST_F(Planning, AFileThatCannotBePutInPlaceFailsAloneAndARetryPlacesIt)
{
    const QString place = emulator.createFolder(account.email, u"Place"_s);
    QStringList ids;
    for (int i = 0; i < 6; ++i)
        ids.append(emulator.createFile(account.email, u"f%1.bin"_s.arg(i),
                                       bytes(3000 + i, quint64(i + 20)), place));
    // A folder where one file should land: its rename cannot replace it.
    writeFile(local(u"Place/f3.bin/keep.txt"_s), "mine");

    desktop.answerAlert(0); // "Tải tiếp vào thư mục này"
    download({driveFile(place)}, localDir.path());
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(at(0).state, State::Failed);
    EXPECT_TRUE(at(0).detail.startsWith(u"1/6 file chưa tải được, bấm ↻ để tải nốt. f3.bin: "_s))
        << at(0).detail.toStdString();
    for (int i = 0; i < 6; ++i) {
        if (i != 3) {
            EXPECT_EQ(sha256OfFile(local(u"Place/f%1.bin"_s.arg(i))), emulator.contentSha256(ids[i]));
        }
    }
    EXPECT_TRUE(QFileInfo::exists(LocalNames::partPath(local(u"Place/f3.bin"_s))));
    EXPECT_TRUE(QFileInfo::exists(local(u"Place/f3.bin/keep.txt"_s)));

    QDir(local(u"Place/f3.bin"_s)).removeRecursively();
    transfers->resumeTransfer(idAt(0));
    ASSERT_TRUE(reaches(idAt(0), State::Done));
    EXPECT_EQ(localTree(local(u"Place"_s)), driveTree(place));
    // The part file was complete: it was moved into place without fetching again.
    EXPECT_EQ(mediaRequests(ids[3]).size(), 1);
}

TEST_F(Planning, GoogleDocumentsOpenInTheBrowserAndStayOutOfFolderWalks)
{
    useModel();
    const QString doc = emulator.createGoogleDocument(account.email, u"Notes"_s);
    const QString pdf = emulator.createFile(account.email, u"a.pdf"_s, bytes(3000, 3));
    const QString folder = emulator.createFolder(account.email, u"Mixed"_s);
    emulator.createGoogleDocument(account.email, u"Sheet"_s, folder, u"spreadsheet"_s);
    const QString sub = emulator.createFolder(account.email, u"sub"_s, folder);
    for (int i = 0; i < 3; ++i)
        emulator.createFile(account.email, u"f%1"_s.arg(i), bytes(100, quint64(i)), sub);

    // A selection of a document and a PDF leaves the PDF alone, saved where the user says.
    runSync(model->cloud().refreshCloud());
    model->cloud().setCloudSelection({doc, pdf});
    desktop.answerSave(local(u"saved.pdf"_s));
    runSync(transfers->downloadSelected());
    ASSERT_EQ(desktop.saveRequests.size(), 1);
    EXPECT_EQ(desktop.saveRequests[0].suggestedName, u"a.pdf");
    EXPECT_EQ(desktop.saveRequests[0].prompt, u"Tải xuống");
    ASSERT_EQ(transfers->list().size(), 1);
    EXPECT_EQ(at(0).name, u"a.pdf");

    // A document alone opens in the browser.
    runSync(transfers->downloadFile(driveFile(doc)));
    EXPECT_EQ(desktop.openedUrls.size(), 1);
    EXPECT_EQ(transfers->list().size(), 1);

    // Inside a folder it is left out of the plan: three files.
    download({driveFile(folder)}, localDir.path());
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(transfers->list().last().totalFilesCount, 3);
    EXPECT_EQ(localTree(local(u"Mixed"_s)).size(), 4); // sub and its three files
}

// Folders that hold no file are made on disk too, at any depth, as an upload makes them on Drive.
TEST_F(Planning, EmptyFoldersInsideADownloadedTreeAreMade)
{
    const QString tree = emulator.createFolder(account.email, u"Cây"_s);
    emulator.createFolder(account.email, u"trống"_s, tree);
    const QString nested = emulator.createFolder(account.email, u"lồng"_s, tree);
    emulator.createFolder(account.email, u"sâu"_s, nested);
    const QString docs = emulator.createFolder(account.email, u"chỉ tài liệu"_s, tree);
    emulator.createGoogleDocument(account.email, u"Ghi chú"_s, docs);
    const QString full = emulator.createFolder(account.email, u"đầy"_s, tree);
    emulator.createFile(account.email, u"a.bin"_s, bytes(1000, 4), full);

    download({driveFile(tree)}, localDir.path());
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(at(0).state, State::Done);
    for (const QString &folder : {u"Cây/trống"_s, u"Cây/lồng/sâu"_s, u"Cây/chỉ tài liệu"_s})
        EXPECT_TRUE(QFileInfo(local(folder)).isDir()) << folder.toStdString();
    EXPECT_EQ(QFileInfo(local(u"Cây/đầy/a.bin"_s)).size(), 1000);
    EXPECT_EQ(localTree(local(u"Cây"_s)).size(), 6); // five folders and the file
}

TEST_F(Planning, HostileDriveNamesLandInsideTheDestinationEachInAFileOfItsOwn)
{
    const QString root = emulator.createFolder(account.email, u"Hostile"_s);
    const QStringList names{u"a/b.txt"_s,       u"."_s,           u".."_s,
                            u"../../escape.txt"_s, u"line\nbreak"_s, u"same"_s,
                            u"same"_s,          u"Same"_s,        u".x.tarnwick-part"_s,
                            u"x"_s,             QString(300, u'ệ'),
                            QString(300, u'ệ'),  QString(246, u'a') + u".txt"_s};
    QStringList ids;
    for (qsizetype i = 0; i < names.size(); ++i)
        ids.append(emulator.createFile(account.email, names[i], bytes(700 + i, quint64(i + 1)), root));
    // The destination is a folder inside the test's own: nothing may appear beside it.
    const QString destination = local(u"dest"_s);
    QDir().mkpath(destination);
    download({driveFile(root)}, destination);
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(at(0).state, State::Done) << at(0).detail.toStdString();
    EXPECT_EQ(QDir(localDir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{u"dest"_s});
    EXPECT_EQ(QDir(destination).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{u"Hostile"_s});

    // Every Drive file has its own local file with its own bytes.
    const QMap<QString, QString> tree = localTree(destination + u"/Hostile"_s);
    QStringList hashes = tree.values();
    QStringList expected;
    for (const QString &id : ids)
        expected.append(emulator.contentSha256(id));
    hashes.sort();
    expected.sort();
    EXPECT_EQ(hashes, expected);
    for (const QString &name : tree.keys()) {
        EXPECT_FALSE(name.contains(u'/')) << name.toStdString();
        EXPECT_LE(QFile::encodeName(name).size(), 255);
    }

    // A retry maps each Drive file to the same path: nothing is fetched again.
    const QStringList first = localNames(runSync(drive().list(root, false)));
    EXPECT_EQ(localNames(runSync(drive().list(root, false))), first);

    // A single file with a name past the limit lands under a shortened name, part file and all.
    const QString alone = local(u"alone"_s);
    QDir().mkpath(alone);
    download({driveFile(ids[names.indexOf(QString(300, u'ệ'))])}, alone);
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(transfers->list().last().state, State::Done)
        << transfers->list().last().detail.toStdString();
    const QStringList landed =
        QDir(alone).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    ASSERT_EQ(landed.size(), 1);
    EXPECT_LE(QFile::encodeName(landed[0]).size(), 240);
    EXPECT_TRUE(landed[0].startsWith(u"ệệệ"_s));
}

TEST_F(Planning, LocalTreesWithOddEntriesSendWhatTheyCanAndSayWhatTheyCannot)
{
    const QString tree = local(u"Odd"_s);
    writeFile(tree + u"/ok.txt"_s, "fine");
    writeFile(tree + u"/sub/deep.txt"_s, "deep");
    ASSERT_EQ(::mkfifo(QFile::encodeName(tree + u"/pipe"_s).constData(), 0600), 0);
    ASSERT_EQ(::symlink("..", QFile::encodeName(tree + u"/loop"_s).constData()), 0);
    writeFile(tree + u"/locked.txt"_s, "no");
    QFile::setPermissions(tree + u"/locked.txt"_s, QFileDevice::Permissions());
    const bool root = ::geteuid() == 0; // root reads it anyway

    upload({tree});
    ASSERT_TRUE(allFinished());
    const QString folder = emulator.findChild(emulator.rootFolderId(account.email), u"Odd"_s);
    QMap<QString, QString> uploaded = driveTree(folder);
    EXPECT_EQ(uploaded.value(u"ok.txt"_s), sha256OfFile(tree + u"/ok.txt"_s));
    EXPECT_EQ(uploaded.value(u"sub/deep.txt"_s), sha256OfFile(tree + u"/sub/deep.txt"_s));
    EXPECT_FALSE(uploaded.contains(u"pipe"_s));
    EXPECT_FALSE(uploaded.contains(u"loop"_s));
    if (!root) {
        EXPECT_EQ(at(0).state, State::Failed);
        EXPECT_TRUE(at(0).detail.startsWith(u"1/3 file chưa tải lên được, bấm ↻ để tải nốt. locked.txt: "_s))
            << at(0).detail.toStdString();
    }

    // A symbolic link or a pipe given by itself says why it cannot go.
    upload({tree + u"/loop"_s});
    upload({tree + u"/pipe"_s});
    ASSERT_TRUE(allFinished());
    const QList<Transfer> all = transfers->list();
    EXPECT_EQ(all[all.size() - 2].detail, u"Liên kết tượng trưng không được tải lên.");
    EXPECT_EQ(all.last().detail, u"Không hỗ trợ loại file này.");
}

TEST_F(Planning, UploadsAreRefusedWhereDriveTakesNothingAndDuplicatesAreQueuedOnce)
{
    useModel();
    writeFile(local(u"b/x.txt"_s), "b");
    writeFile(local(u"a/y.txt"_s), "a");
    transfers->enqueueUploads({local(u"b"_s), local(u"a"_s), local(u"b"_s)});
    ASSERT_EQ(transfers->list().size(), 2);
    EXPECT_EQ(at(0).name, u"a");
    EXPECT_EQ(at(1).name, u"b");
    EXPECT_EQ(at(0).destinationPath, u"/Drive của tôi/a");
    ASSERT_TRUE(allFinished());

    model->cloud().changeLocation(DriveLocation::Shared);
    transfers->enqueueUploads({local(u"a"_s)});
    EXPECT_EQ(model->error(), u"Hãy mở một thư mục có quyền chỉnh sửa để tải file vào.");
    EXPECT_EQ(transfers->list().size(), 2);
}

// A slice whose panes are not wired shows no folder: uploads and drops are refused with their
// reasons instead of going to a folder nobody chose.
TEST_F(Planning, WithoutPanesUploadsAndDropsAreRefusedAndSayWhy)
{
    bool signedIn = false;
    Transfers bare(desktop, drive(), [&] { return signedIn; });
    QSignalSpy failed(&bare, &Transfers::failed);
    QSignalSpy signInAsked(&bare, &Transfers::signInRequested);
    writeFile(local(u"a.txt"_s), "a");

    bare.enqueueUploads({local(u"a.txt"_s)});
    EXPECT_FALSE(bare.readyToChooseUploads());
    EXPECT_EQ(signInAsked.size(), 2);
    EXPECT_TRUE(failed.isEmpty());

    signedIn = true;
    bare.enqueueUploads({local(u"a.txt"_s)});
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed.last().first().toString(),
              u"Hãy mở một thư mục có quyền chỉnh sửa để tải file vào.");

    const QString file = emulator.createFile(account.email, u"kéo.bin"_s, bytes(100, 1));
    runSync(bare.acceptDropItems({DownloadDropItem(driveFile(file), std::nullopt, std::nullopt)}));
    ASSERT_EQ(failed.size(), 2);
    EXPECT_EQ(failed.last().first().toString(),
              u"Hãy chọn một thư mục trên máy trước khi kéo từ Google Drive về.");
    runSync(bare.downloadFromDriveID(file, std::nullopt));
    ASSERT_EQ(failed.size(), 3);
    EXPECT_EQ(failed.last().first().toString(),
              u"Hãy chọn một thư mục trên máy trước khi tải file từ liên kết.");
    EXPECT_TRUE(bare.list().isEmpty());
    EXPECT_EQ(signInAsked.size(), 2);
}

TEST_F(Planning, DropsOfEachPayloadKind)
{
    useModel();
    const QString file = emulator.createFile(account.email, u"dropped.bin"_s, bytes(2000, 4));
    // A Drive row.
    runSync(transfers->acceptDropItems({DownloadDropItem(driveFile(file), std::nullopt, std::nullopt)}));
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(sha256OfFile(local(u"dropped.bin"_s)), emulator.contentSha256(file));

    // A link as a URL and as text open the link sheet prefilled.
    const QString link = u"https://drive.google.com/file/d/"_s + file + u"/view"_s;
    runSync(transfers->acceptDropItems({DownloadDropItem(std::nullopt, QUrl(link), std::nullopt)}));
    EXPECT_TRUE(transfers->showLinkDownload());
    EXPECT_EQ(transfers->linkToDownload(), link);
    EXPECT_EQ(transfers->customDownloadFolder(), localDir.path());
    transfers->setShowLinkDownload(false);
    runSync(transfers->acceptDropItems({DownloadDropItem(std::nullopt, std::nullopt, u"xem: "_s + link)}));
    EXPECT_TRUE(transfers->showLinkDownload());

    // Nothing readable.
    runSync(transfers->acceptDropItems({DownloadDropItem(std::nullopt, std::nullopt, u"hello"_s)}));
    EXPECT_EQ(model->error(), u"Không nhận diện được liên kết Google Drive từ mục đã kéo thả.");
}

TEST_F(Planning, LinkDownloadsFindTheItemOrSayWhy)
{
    useModel();
    const QString folder = emulator.createFolder(account.email, u"Linked"_s);
    emulator.createFile(account.email, u"in.bin"_s, bytes(1234, 5), folder);
    QDir(localDir.path()).mkdir(u"to"_s);
    runSync(transfers->downloadFromDriveID(folder, local(u"to"_s)));
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(localTree(local(u"to/Linked"_s)), driveTree(folder));
    EXPECT_EQ(model->local().localURL(), local(u"to"_s));

    runSync(transfers->downloadFromDriveID(u"doesNotExist123456789012345"_s, local(u"to"_s)));
    ASSERT_TRUE(model->error().has_value());
    // A link names no upload, so its "not found" speaks of the link alone.
    EXPECT_FALSE(model->error()->contains(u"tải lên"_s)) << model->error()->toStdString();
    EXPECT_TRUE(model->error()->startsWith(u"Không tìm thấy file hoặc thư mục của liên kết này"_s));
    EXPECT_TRUE(waitUntil([&] { return !model->cloud().loading(); }));
}

} // namespace
