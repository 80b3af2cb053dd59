#include "browse/filterbyname.h"

namespace Tarnwick {

NameSearch::NameSearch(const QString &search)
    // Names written on another system may be decomposed; compare canonical forms.
    : m_exact(search.normalized(QString::NormalizationForm_C).toCaseFolded())
{
    m_folds = withoutMarks(m_exact) == m_exact;
}

bool NameSearch::matches(const QString &name) const
{
    const QString exact = name.normalized(QString::NormalizationForm_C).toCaseFolded();
    if (exact.contains(m_exact))
        return true;
    return m_folds && withoutMarks(exact).contains(m_exact);
}

QString NameSearch::withoutMarks(const QString &text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString out;
    out.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue;
        // The crossed d is a letter of its own, not a d with a mark.
        if (c == QChar(0x0111))
            out.append(QLatin1Char('d'));
        else if (c == QChar(0x0110))
            out.append(QLatin1Char('D'));
        else
            out.append(c);
    }
    return out;
}

} // namespace Tarnwick
