#include "records/errors.h"

#include <cstring>

namespace Tarnwick {

const char *Failure::what() const noexcept
{
    m_what = description().toUtf8();
    return m_what.constData();
}

SystemError SystemError::fromErrno(int err)
{
    return SystemError(QString::fromLocal8Bit(std::strerror(err)), err);
}

QString describe(const std::exception &e)
{
    if (auto *f = dynamic_cast<const Failure *>(&e))
        return f->description();
    return QString::fromUtf8(e.what());
}

} // namespace Tarnwick
