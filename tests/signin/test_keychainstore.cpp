#include "records/errors.h"
#include "auth/keychainstore.h"
#include "async/runsync.h"
#include "signintesting.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;

TEST(KeychainStore, SavedBytesReadBackAndAreReplacedAndRemoved)
{
    const KeychainStore store = freshStore();
    const QByteArray binary("{\"a\":1}\0\xff\x80 end", 14);
    runSync(store.save(binary, u"oauth-tokens"_s));
    EXPECT_EQ(runSync(store.read(u"oauth-tokens"_s)), binary);

    runSync(store.save("second", u"oauth-tokens"_s));
    EXPECT_EQ(runSync(store.read(u"oauth-tokens"_s)), QByteArray("second"));

    runSync(store.remove(u"oauth-tokens"_s));
    EXPECT_EQ(runSync(store.read(u"oauth-tokens"_s)), std::nullopt);
}

TEST(KeychainStore, MissingItemIsNothingAndRemovingItIsNoFailure)
{
    const KeychainStore store = freshStore();
    EXPECT_EQ(runSync(store.read(u"oauth-configuration"_s)), std::nullopt);
    EXPECT_NO_THROW(runSync(store.remove(u"oauth-configuration"_s)));
}

TEST(KeychainStore, ItemsAreSeparatedByServiceAndAccount)
{
    const KeychainStore one = freshStore();
    const KeychainStore other = freshStore();
    runSync(one.save("tokens", u"oauth-tokens"_s));
    runSync(one.save("configuration", u"oauth-configuration"_s));
    EXPECT_EQ(runSync(other.read(u"oauth-tokens"_s)), std::nullopt);
    EXPECT_EQ(runSync(one.read(u"oauth-configuration"_s)), QByteArray("configuration"));
    runSync(one.remove(u"oauth-tokens"_s));
    EXPECT_EQ(runSync(one.read(u"oauth-configuration"_s)), QByteArray("configuration"));
    runSync(one.remove(u"oauth-configuration"_s));
}

// Run by the next test in a child process that has no secret service to talk to.
TEST(KeychainStoreWithoutService, SaveFails)
{
    if (qEnvironmentVariableIsEmpty("TARNWICK_KEYCHAIN_CHILD"))
        GTEST_SKIP() << "runs only as the child of NoSecretServiceMeansFailureNotAPlaintextFile";
    const KeychainStore store(u"com.tarnwick.test.nobackend"_s);
    const QString failure = failureOf(store.save("plaintext-canary", u"oauth-tokens"_s));
    EXPECT_TRUE(failure.startsWith(u"Không lưu được phiên đăng nhập vào kho mật khẩu ("_s) ||
                failure.startsWith(u"Không cập nhật được kho mật khẩu ("_s))
        << failure.toStdString();
}

TEST(KeychainStore, NoSecretServiceMeansFailureNotAPlaintextFile)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TARNWICK_KEYCHAIN_CHILD"_s, u"1"_s);
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path=/nonexistent/bus"_s);
    env.insert(u"HOME"_s, home.path());
    env.insert(u"XDG_CONFIG_HOME"_s, home.filePath(u"config"_s));
    env.insert(u"XDG_DATA_HOME"_s, home.filePath(u"data"_s));
    env.remove(u"DISPLAY"_s);
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {u"--gtest_filter=KeychainStoreWithoutService.SaveFails"_s});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray output = child.readAllStandardOutput() + child.readAllStandardError();
    EXPECT_EQ(child.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();

    QDirIterator it(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        EXPECT_FALSE(content.contains("plaintext-canary") ||
                     content.contains(QByteArray("plaintext-canary").toBase64()))
            << file.fileName().toStdString();
    }
}
