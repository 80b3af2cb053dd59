#include "records/sortoption.h"

#include <gtest/gtest.h>

using namespace Tarnwick;
using namespace Qt::StringLiterals;

namespace {

struct Item
{
    QString name;
    bool folder = false;
    qint64 size = 0;
    QDateTime modified;
};

QStringList namesOf(const QList<Item> &items)
{
    QStringList out;
    for (const Item &i : items)
        out << i.name;
    return out;
}

QList<Item> sortItems(const SortOption &opt, const QList<Item> &items)
{
    return opt.sorted(
        items, [](const Item &i) { return i.name; }, [](const Item &i) { return i.folder; },
        [](const Item &i) { return i.modified; }, [](const Item &i) { return i.size; });
}

} // namespace

TEST(SortOption, nameOrderIsNumericAndCaseInsensitive)
{
    const QList<Item> items{{u"file10"_s}, {u"File2"_s}, {u"file1"_s}, {u"b"_s}, {u"A"_s}};
    EXPECT_EQ(namesOf(sortItems({}, items)),
              (QStringList{u"A"_s, u"b"_s, u"file1"_s, u"File2"_s, u"file10"_s}));
}

TEST(SortOption, sizeDescendingWithFoldersFirstBreaksTiesByAscendingName)
{
    const QList<Item> items{{u"small"_s, false, 10},  {u"big"_s, false, 100},
                            {u"dirB"_s, true, 5},     {u"dirA"_s, true, 5},
                            {u"tie-b"_s, false, 50},  {u"tie-a"_s, false, 50},
                            {u"dirBig"_s, true, 900}};
    const SortOption opt{SortOption::Key::Size, false, true};
    EXPECT_EQ(namesOf(sortItems(opt, items)),
              (QStringList{u"dirBig"_s, u"dirA"_s, u"dirB"_s, u"big"_s, u"tie-a"_s, u"tie-b"_s,
                           u"small"_s}));
}

TEST(SortOption, kindGroupsExtensionsCaseInsensitively)
{
    EXPECT_EQ(SortOption::kind(u"a.PNG"_s, false), u"png"_s);
    EXPECT_EQ(SortOption::kind(u"dir.d"_s, true), QString());
    EXPECT_EQ(SortOption::kind(u"README"_s, false), QString());
    const QList<Item> items{{u"x.pdf"_s}, {u"b.png"_s}, {u"a.PNG"_s}, {u"noext"_s}};
    const SortOption opt{SortOption::Key::Kind, true, false};
    EXPECT_EQ(namesOf(sortItems(opt, items)),
              (QStringList{u"noext"_s, u"x.pdf"_s, u"a.PNG"_s, u"b.png"_s}));
}

TEST(SortOption, foldersMixWhenNotFirstAndMissingDatesSortFirst)
{
    const QDateTime d1 = QDateTime::fromString(u"2024-05-01T08:30:15Z"_s, Qt::ISODate);
    const QList<Item> items{{u"f"_s, false, 0, d1}, {u"dir"_s, true, 0, d1.addSecs(10)},
                            {u"undated"_s, false, 0, QDateTime()}};
    const SortOption opt{SortOption::Key::Modified, true, false};
    EXPECT_EQ(namesOf(sortItems(opt, items)), (QStringList{u"undated"_s, u"f"_s, u"dir"_s}));
}

// Rows equal under the key and the name tie-break ("a" beside "a", and "a" beside "A" where the
// collator finds them equal) keep the order they came in. Enough rows that an unstable sort would
// shuffle them: small runs come out stable from any sort.
TEST(SortOption, rowsEqualUnderEveryKeyKeepTheirInputOrder)
{
    struct Row
    {
        QString name;
        int position;
    };
    const QDateTime date = QDateTime::fromString(u"2024-05-01T08:30:15Z"_s, Qt::ISODate);
    QList<Row> rows;
    for (int i = 0; i < 90; ++i)
        rows.append({QList{u"a"_s, u"A"_s, u"b.txt"_s}[i % 3], i});
    const NameCollator collator;
    for (const SortOption::Key key : SortOption::allKeys()) {
        for (const bool ascending : {true, false}) {
            SCOPED_TRACE(SortOption::rawValue(key).toStdString() + (ascending ? " up" : " down"));
            const QList<Row> sorted = SortOption{key, ascending, true}.sorted(
                rows, [](const Row &r) { return r.name; }, [](const Row &) { return false; },
                [&](const Row &) { return date; }, [](const Row &) { return qint64(7); });
            for (qsizetype i = 1; i < sorted.size(); ++i) {
                if (collator.compare(sorted[i - 1].name, sorted[i].name) == 0) {
                    EXPECT_LT(sorted[i - 1].position, sorted[i].position) << "at " << i;
                }
            }
        }
    }
}

TEST(SortOption, jsonRoundTripAndUnknownKeyRejected)
{
    const SortOption opt{SortOption::Key::Size, false, false};
    EXPECT_EQ(SortOption::fromJsonBytes(opt.toJsonBytes()), opt);
    EXPECT_FALSE(SortOption::fromJsonBytes(R"({"key":"color","ascending":true,"foldersFirst":true})"));
    EXPECT_FALSE(SortOption::fromJsonBytes(R"({"key":"name","ascending":true})"));
    EXPECT_FALSE(SortOption::fromJsonBytes("garbage"));
    EXPECT_EQ(SortOption{}.directionLabel(false), u"Z → A"_s);
    EXPECT_EQ(SortOption::title(SortOption::Key::Modified), u"Ngày sửa đổi"_s);
}
