#pragma once

#include "records/errors.h"

namespace Tarnwick {

// Stored or received JSON that does not fit the record it should become: malformed text, a
// missing required key, or a value of the wrong type. The description is meant for developers
// and bug reports; the callers that expect such data decide whether to show it or fall back.
class DecodingError final : public Failure
{
public:
    explicit DecodingError(QString detail)
        : m_detail(std::move(detail))
    {
    }
    QString description() const override;
    const QString &detail() const { return m_detail; }

    static DecodingError missingKey(QLatin1StringView record, QLatin1StringView key);
    static DecodingError wrongType(QLatin1StringView record, QLatin1StringView key,
                                   QLatin1StringView expected);
    static DecodingError malformed(QLatin1StringView record, const QString &reason);

private:
    QString m_detail;
};

} // namespace Tarnwick
