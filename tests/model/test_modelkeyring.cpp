// Start-up with the keyring locked; runs alone, as locking the keyring affects the whole session.
#include "modeltesting.h"
#include "signin/signintesting.h"
#include "support/testsupport.h"

#include "async/runsync.h"

#include <QSettings>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;

TEST_F(ModelTest, LockedKeyringAtStartShowsTheKeychainMessageAndStillOpensTheLocalFolder)
{
    storeSession();
    QTemporaryDir folder;
    writeFile(folder.filePath(u"a.txt"_s), "a");
    QSettings().setValue(LocalBrowser::localFolderKey, folder.path());
    auto model = makeModel();
    {
        Keyring::LockedScope locked;
        ASSERT_TRUE(locked.ok);
        runSync(model->initialize());
    }
    EXPECT_EQ(model->error(), KeychainStore::readFailure(KeychainStore::lockedCode()));
    EXPECT_FALSE(model->connection().configured());
    EXPECT_FALSE(model->connection().connected());
    EXPECT_FALSE(model->connection().managedGoogle());
    EXPECT_EQ(model->local().localURL(), folder.path());
    EXPECT_EQ(model->local().localFiles().size(), 1);
    EXPECT_TRUE(requests(u"GET"_s, u"^/drive/"_s).isEmpty());
}
