#include "records/errors.h"

#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;

namespace Tarnwick {

const char *Failure::what() const noexcept
{
    m_what = description().toUtf8();
    return m_what.constData();
}

SystemError SystemError::fromErrno(int err)
{
    // The one system failure a user can mend alone gets a Vietnamese text saying how.
    if (err == ENOSPC || err == EDQUOT)
        return SystemError(fullDiskMessage(), err);
    return SystemError(QString::fromLocal8Bit(std::strerror(err)), err);
}

QString SystemError::fullDiskMessage()
{
    return u"Ổ đĩa đã đầy, không ghi thêm được. Hãy giải phóng bớt dung lượng rồi bấm thử lại."_s;
}

QString describe(const std::exception &e)
{
    if (auto *f = dynamic_cast<const Failure *>(&e))
        return f->description();
    return QString::fromUtf8(e.what());
}

} // namespace Tarnwick
