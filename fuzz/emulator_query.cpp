// The emulator's readers of a request's "q" and "fields" parameters. Either reads or answers 400;
// a query that reads can be evaluated.
#include "fuzzsupport.h"

#include "api/apierror.h"
#include "api/fieldselection.h"
#include "api/searchquery.h"

using namespace Tarnwick::Emulator;
using namespace Tarnwick::Fuzz;

namespace {

class Subject final : public SearchQuery::Subject
{
public:
    QString text(SearchQuery::Field) const override { return QStringLiteral("Báo cáo 2024.pdf"); }
    bool flag(SearchQuery::Field field) const override { return int(field) % 2 == 0; }
    std::optional<QDateTime> time(SearchQuery::Field) const override
    {
        return QDateTime(QDate(2024, 5, 1), QTime(8, 30), Qt::UTC);
    }
    bool inCollection(SearchQuery::Field, const QString &value) const override
    {
        return value == QStringLiteral("root");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint8_t selector = takeSelector(data, size);
    const QString text = QString::fromUtf8(bytesOf(data, size));
    try {
        if (selector % 2 == 0) {
            const SearchQuery query = SearchQuery::parse(text);
            (void)query.matches(Subject());
            (void)query.requiredParent();
            (void)query.requiresSharedWithMe();
        } else {
            const FieldSchema *schemas[] = {&Schemas::file(), &Schemas::fileList(), &Schemas::about(),
                                            &Schemas::permissionList(), &Schemas::driveList()};
            const FieldSelection selection =
                FieldSelection::parse(text, *schemas[(selector / 2) % std::size(schemas)]);
            for (const QString &name : selection.names())
                (void)selection.sub(name);
        }
    } catch (const ApiError &error) {
        check(error.status == 400, "a bad parameter is a 400");
    }
    return 0;
}
