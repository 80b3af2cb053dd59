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
    QSettings().setValue(AppModel::localFolderKey, folder.path());
    auto model = makeModel();
    {
        Keyring::LockedScope locked;
        ASSERT_TRUE(locked.ok);
        runSync(model->initialize());
    }
    EXPECT_EQ(model->error(), KeychainStore::readFailure(KeychainStore::lockedCode()));
    EXPECT_FALSE(model->configured());
    EXPECT_FALSE(model->connected());
    EXPECT_FALSE(model->managedGoogle());
    EXPECT_EQ(model->localURL(), folder.path());
    EXPECT_EQ(model->localFiles().size(), 1);
    EXPECT_TRUE(requests(u"GET"_s, u"^/drive/"_s).isEmpty());
}
