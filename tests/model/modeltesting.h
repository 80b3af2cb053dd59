#pragma once

#include "appmodel.h"
#include "browse/drivebrowser.h"
#include "browse/localbrowser.h"
#include "connection/driveconnection.h"
#include "transfers/transfers.h"
#include "support/scripteddesktop.h"

#include "async/clock.h"
#include "driveemulator.h"
#include "auth/keychainstore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace Tarnwick::Testing {

// AppModel against a fresh Drive emulator, with settings, a keychain service and a clock of the
// test's own and a scripted desktop.
class ModelTest : public ::testing::Test
{
protected:
    ModelTest();
    ~ModelTest() override;

    // Stores the emulator's desktop client as the developer configuration and, withTokens, live
    // tokens recorded as obtained by tokenClient (empty: that same client).
    void storeSession(bool withTokens = true, const QString &tokenClient = {});
    std::unique_ptr<AppModel> makeModel();
    // Started with a stored session: connected, account loaded, My Drive listed.
    std::unique_ptr<AppModel> signedInModel();
    // Answered requests with this method and a path matching the pattern.
    QList<Emulator::RequestRecord> requests(const QString &method, const QString &path) const;
    // Answers the next matching request with this status and body.
    void answerOnce(int status, const QByteArray &body, const QString &method, const QString &path);
    // Goes through the consent page like a browser would, back to the sign-in's loopback.
    void follow(const QUrl &url);
    static QStringList names(const QList<DriveFile> &files);

    TestClock clock{0.001};
    QTemporaryDir settings;
    Emulator::DriveEmulator emulator{Emulator::DriveEmulator::Options{.autoConsent = true}};
    Emulator::TestAccount account;
    KeychainStore keychain;
    ScriptedDesktop desktop;
};

} // namespace Tarnwick::Testing
