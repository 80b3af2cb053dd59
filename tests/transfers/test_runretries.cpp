// Whole transfers through the queue while the emulator cuts or refuses the requests that plan
// them (ID reservations, folder creates, folder listings): the run waits and sends them again,
// finishes with the whole tree and never makes a folder twice; a request that keeps failing ends
// the transfer with its message.
#include "../queue/queuetesting.h"
#include "support/lostanswer.h"
#include "support/qtprinters.h"
#include "support/testsupport.h"

#include "transfer/transferqueue.h"

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using Emulator::FaultRule;
using State = TransferState;

namespace {

const QString filesPath = u"^/drive/v3/files$"_s;

class RunRetries : public QueueTest
{
protected:
    // The connection drops once the request is in (for a create: it took effect).
    int cut(const QString &method, const QString &path, int skip = 0)
    {
        return cut(method, path, QString(), skip);
    }
    int cut(const QString &method, const QString &path, const QString &query, int skip = 0)
    {
        return emulator.addFault(lostAnswer(method, path, query, 1, skip));
    }
    int answer(FaultRule rule, const QString &method, const QString &path, int skip = 0)
    {
        rule.method = method;
        rule.path = path;
        rule.skip = skip;
        return emulator.addFault(rule);
    }
    int answer(FaultRule rule, const QString &method, const QString &path, const QString &query)
    {
        rule.query = query;
        return answer(std::move(rule), method, path);
    }
    QStringList childrenNamed(const QString &parent, const QString &name) const
    {
        QStringList out;
        for (const QString &id : emulator.childIds(parent))
            if (emulator.itemMetadata(id, {}, u"name"_s)->value(u"name"_s).toString() == name)
                out.append(id);
        return out;
    }
};

} // namespace

TEST_F(RunRetries, AFolderUploadWhoseCreatesAndReservationsFailOnceMakesEachFolderOnce)
{
    const QString root = local(u"Cây"_s);
    writeFile(root + u"/gốc.txt"_s, bytes(300, 1));
    for (int i = 0; i < 4; ++i)
        writeFile(root + u"/d%1/e/f%1.txt"_s.arg(i), bytes(200 + i, quint64(10 + i)));
    writeFile(root + u"/d0/g.bin"_s, bytes(7000, 20));

    QList<int> rules{
        answer(FaultRule::respond(503), u"GET"_s, u"generateIds"_s),
        cut(u"GET"_s, u"generateIds"_s, 1),
        cut(u"POST"_s, filesPath), // the top folder is made, its answer lost
        answer(FaultRule::respond(503), u"POST"_s, filesPath, 3), // refused before it is made
        answer(FaultRule::respondHtml(429), u"POST"_s, filesPath, 5),
    };
    FaultRule late = FaultRule::respond(502);
    late.afterHandler = true; // made, then answered with a server error
    rules.append(answer(late, u"POST"_s, filesPath, 7));

    upload({root});
    const QUuid id = idAt(0);
    ASSERT_TRUE(reaches(id, State::Done)) << transfer(id)->detail.toStdString();
    for (int rule : std::as_const(rules))
        EXPECT_GT(emulator.faultFired(rule), 0) << "rule " << rule;

    const QStringList tops = childrenNamed(emulator.rootFolderId(account.email), u"Cây"_s);
    ASSERT_EQ(tops.size(), 1);
    EXPECT_EQ(driveTree(tops.first()), localTree(root));
    EXPECT_FALSE(transfers->queue().checkpoint(id).has_value());
}

TEST_F(RunRetries, AFolderDownloadWhoseListingsFailOnceFetchesTheWholeTree)
{
    const QString top = emulator.createFolder(account.email, u"Ảnh"_s);
    QStringList subs, deepers;
    for (int i = 0; i < 3; ++i) {
        subs.append(emulator.createFolder(account.email, u"năm %1"_s.arg(i), top));
        deepers.append(emulator.createFolder(account.email, u"tháng"_s, subs.last()));
        for (int k = 0; k < 3; ++k) {
            emulator.createFile(account.email, u"a%1.jpg"_s.arg(k), bytes(900 + k, quint64(k)),
                                subs.last());
            emulator.createFile(account.email, u"b%1.jpg"_s.arg(k), bytes(400 + k, quint64(k)),
                                deepers.last());
        }
    }
    // The listing of the top, of one folder below it and of one further down.
    const QList<int> rules{
        cut(u"GET"_s, filesPath, top),
        answer(FaultRule::respondHtml(503), u"GET"_s, filesPath, subs[1]),
        cut(u"GET"_s, filesPath, deepers[2]),
    };
    download({driveFile(top)}, localDir.path());
    ASSERT_TRUE(allFinished());
    EXPECT_EQ(at(0).state, State::Done) << at(0).detail.toStdString();
    for (int rule : rules)
        EXPECT_GT(emulator.faultFired(rule), 0) << "rule " << rule;
    EXPECT_EQ(localTree(local(u"Ảnh"_s)), driveTree(top));
    EXPECT_EQ(localTree(local(u"Ảnh"_s)).size(), 3 * (2 + 6));
}

TEST_F(RunRetries, AListingThatKeepsFailingEndsTheTransferWithItsMessage)
{
    const QString top = emulator.createFolder(account.email, u"Hỏng"_s);
    emulator.createFile(account.email, u"a.txt"_s, "a", top);
    FaultRule down = FaultRule::respondHtml(503, u"GET"_s, filesPath);
    down.query = top;
    down.times = 0;
    const int rule = emulator.addFault(down);
    download({driveFile(top)}, localDir.path());
    const QUuid id = idAt(0);
    ASSERT_TRUE(reaches(id, State::Failed));
    EXPECT_EQ(transfer(id)->detail, u"Không kết nối được Google Drive (503)."_s);
    EXPECT_EQ(emulator.faultFired(rule), 6) << "one try and five more after waits";
}
