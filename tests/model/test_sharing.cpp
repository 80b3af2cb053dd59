// Sharing: the list belongs to the item shown, the add form, role changes, removal, share links.
#include "browse/sharing.h"
#include "modeltesting.h"
#include "support/testsupport.h"

#include "drive/driveclient.h"
#include "browse/sharesheetform.h"
#include "async/runsync.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using Emulator::FaultRule;

namespace {

class SharingSlice : public ModelTest
{
protected:
    SharingSlice()
    {
        emulator.addUser(u"binh@example.com"_s);
        emulator.addUser(u"chi@example.com"_s);
        fileA = item(emulator.createFile(account.email, u"a.txt"_s, "a"));
        fileB = item(emulator.createFile(account.email, u"b.txt"_s, "b"));
        emulator.share(fileA.id, u"binh@example.com"_s, u"reader"_s);
        emulator.share(fileB.id, u"chi@example.com"_s, u"writer"_s);
    }
    DriveFile item(const QString &id) const
    {
        return DriveFile::fromJson(*emulator.itemMetadata(id));
    }
    static QStringList emails(const QList<DrivePermission> &permissions)
    {
        QStringList out;
        for (const DrivePermission &p : permissions)
            out.append(p.emailAddress.value_or(p.type));
        return out;
    }
    // Opens the sheet and waits for its list.
    void open(AppModel &model, const DriveFile &file)
    {
        model.sharing().openShare(file);
        ASSERT_TRUE(waitUntil([&] { return !model.sharing().loadingPermissions(); }));
    }

    DriveFile fileA;
    DriveFile fileB;
};

} // namespace

// Drive's answer for the first item used to land in the second item's sheet.
TEST_F(SharingSlice, ListAnsweredAfterTheSheetMovedOnIsDropped)
{
    auto model = signedInModel();
    FaultRule slow = FaultRule::delayBy(400ms, u"GET"_s, u"/permissions$"_s);
    slow.path = u"^/drive/v3/files/"_s + fileA.id + u"/permissions$"_s;
    emulator.addFault(slow);
    model->sharing().openShare(fileA);
    model->sharing().openShare(fileB);
    ASSERT_TRUE(waitUntil([&] { return requests(u"GET"_s, u"/permissions$"_s).size() == 2; }));
    QTest::qWait(50);
    EXPECT_EQ(model->sharing().sharingFile(), fileB);
    EXPECT_EQ(emails(model->sharing().sharingPermissions()),
              (QStringList{account.email, u"chi@example.com"_s}));
}

TEST_F(SharingSlice, FailedReloadKeepsTheListAndShowsWhy)
{
    auto model = signedInModel();
    open(*model, fileA);
    ASSERT_FALSE(model->sharing().sharingError().has_value());
    const QList<DrivePermission> listed = model->sharing().sharingPermissions();
    ASSERT_EQ(emails(listed), (QStringList{account.email, u"binh@example.com"_s}));

    answerOnce(500, {}, u"GET"_s, u"/permissions$"_s);
    runSync(model->sharing().loadPermissions(fileA));
    EXPECT_EQ(model->sharing().sharingPermissions(), listed);
    ASSERT_TRUE(model->sharing().sharingError().has_value());
    EXPECT_FALSE(model->sharing().sharingError()->isEmpty());
    EXPECT_FALSE(model->sharing().loadingPermissions());
}

TEST_F(SharingSlice, AddingSendsTheTrimmedAddressAndAppendsWhatDriveReturned)
{
    auto model = signedInModel();
    open(*model, fileA);
    ShareSheetForm form;
    form.setEmail(u"chi"_s);
    runSync(model->sharing().addCollaborator(&form));
    EXPECT_EQ(form.localError(), u"Vui lòng nhập địa chỉ email hợp lệ."_s);
    EXPECT_TRUE(requests(u"POST"_s, u"/permissions$"_s).isEmpty());

    form.setEmail(u"  chi@example.com\n"_s);
    form.setRole(u"commenter"_s);
    form.setSendNotify(false);
    runSync(model->sharing().addCollaborator(&form));
    EXPECT_FALSE(form.localError().has_value());
    EXPECT_EQ(form.email(), QString());
    EXPECT_EQ(model->toastMessage(), u"Đã chia sẻ cho chi@example.com"_s);
    ASSERT_EQ(model->sharing().sharingPermissions().size(), 3);
    EXPECT_EQ(model->sharing().sharingPermissions().last().role, u"commenter"_s);
    const auto sent = requests(u"POST"_s, u"/permissions$"_s);
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent.at(0).queryValue(u"sendNotificationEmail"_s), u"false"_s);

    emulator.addFault(FaultRule::respondError(400, u"invalid"_s, u"Địa chỉ không hợp lệ"_s,
                                              u"POST"_s, u"/permissions$"_s));
    form.setEmail(u"x@example.com"_s);
    runSync(model->sharing().addCollaborator(&form));
    EXPECT_TRUE(form.localError().has_value());
    EXPECT_EQ(form.email(), u"x@example.com"_s);
    EXPECT_EQ(model->sharing().sharingPermissions().size(), 3);
}

TEST_F(SharingSlice, RoleChangesAndRemovalsUpdateTheListOrReportWhy)
{
    auto model = signedInModel();
    open(*model, fileA);
    const DrivePermission binh = model->sharing().sharingPermissions().at(1);
    runSync(model->sharing().updateCollaboratorRole(fileA, binh, u"writer"_s));
    EXPECT_EQ(model->sharing().sharingPermissions().at(1).role, u"writer"_s);
    EXPECT_EQ(model->toastMessage(), u"Đã cập nhật vai trò"_s);

    emulator.addFault(FaultRule::respond(500, u"PATCH"_s, u"/permissions/"_s));
    EXPECT_ANY_THROW(runSync(model->sharing().updateCollaboratorRole(fileA, binh, u"reader"_s)));
    EXPECT_EQ(model->sharing().sharingPermissions().at(1).role, u"writer"_s);

    ShareSheetForm form;
    emulator.addFault(FaultRule::respond(500, u"DELETE"_s, u"/permissions/"_s));
    runSync(
        model->sharing().removeCollaborator(&form, model->sharing().sharingPermissions().at(1)));
    EXPECT_TRUE(form.localError().has_value());
    EXPECT_EQ(model->sharing().sharingPermissions().size(), 2);

    model->setToastMessage(std::nullopt);
    runSync(
        model->sharing().removeCollaborator(&form, model->sharing().sharingPermissions().at(1)));
    EXPECT_EQ(emails(model->sharing().sharingPermissions()), QStringList{account.email});
    EXPECT_EQ(model->toastMessage(), u"Đã xoá quyền truy cập"_s);
}

TEST_F(SharingSlice, CopiedLinkGoesToTheClipboardAndAFailureToTheAlert)
{
    auto model = signedInModel();
    runSync(model->sharing().copyShareLink(fileA));
    EXPECT_EQ(desktop.copiedTexts, QStringList{*fileA.webViewLink});
    EXPECT_EQ(model->toastMessage(), u"Đã sao chép link chia sẻ: a.txt"_s);

    emulator.addFault(FaultRule::respondError(404, u"notFound"_s, u"gone"_s, u"GET"_s,
                                              u"^/drive/v3/files/"_s + fileB.id + u"$"_s));
    runSync(model->sharing().copyShareLink(fileB));
    ASSERT_TRUE(model->error().has_value());
    EXPECT_TRUE(model->error()->startsWith(u"Không tạo được link chia sẻ: "_s));
    EXPECT_EQ(desktop.copiedTexts.size(), 1);
}

TEST_F(SharingSlice, LinkThatDriveWouldNotMakePublicIsReportedNotCopied)
{
    auto model = signedInModel();
    emulator.addFault(FaultRule::respondError(403, u"publishOutNotPermitted"_s,
                                              u"Public sharing is not allowed."_s, u"POST"_s));
    runSync(model->sharing().copyShareLink(fileA));
    EXPECT_TRUE(desktop.copiedTexts.isEmpty());
    EXPECT_FALSE(model->toastMessage().has_value());
    ASSERT_TRUE(model->error().has_value());
    EXPECT_TRUE(model->error()->startsWith(u"Không tạo được link chia sẻ: "_s))
        << qPrintable(*model->error());
}
