#include "browse/localfile.h"

namespace Tarnwick {

QString LocalFile::name() const
{
    if (url == u"/")
        return url;
    QStringView path(url);
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path.mid(path.lastIndexOf(u'/') + 1).toString();
}

QDateTime LocalFile::modifiedSort() const
{
    return modified.value_or(distantPast());
}

QDateTime LocalFile::distantPast()
{
    // An invalid QDateTime would compare unpredictably; the sort routine maps it to the minimum
    // anyway, but a real date keeps comparisons in callers sound.
    static const QDateTime past = QDateTime::fromMSecsSinceEpoch(-62135596800000LL, Qt::UTC);
    return past;
}

} // namespace Tarnwick
