#include "records/sortoption.h"

#include <limits>

#include <QJsonDocument>
#include <QLocale>

using namespace Qt::StringLiterals;

namespace Tarnwick {

NameCollator::NameCollator()
{
    // The C locale would give a plain code-point order; file browsers sort with a real one.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    m_collator = QCollator(locale);
    m_collator.setNumericMode(true);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    m_collator.setIgnorePunctuation(false);
}

const NameCollator &NameCollator::forThisThread()
{
    thread_local NameCollator collator;
    return collator;
}

QList<SortOption::Key> SortOption::allKeys()
{
    return {Key::Name, Key::Modified, Key::Size, Key::Kind};
}

QString SortOption::rawValue(Key key)
{
    switch (key) {
    case Key::Name: return u"name"_s;
    case Key::Modified: return u"modified"_s;
    case Key::Size: return u"size"_s;
    case Key::Kind: return u"kind"_s;
    }
    return {};
}

std::optional<SortOption::Key> SortOption::keyFromRawValue(const QString &raw)
{
    for (Key k : allKeys()) {
        if (rawValue(k) == raw)
            return k;
    }
    return std::nullopt;
}

QString SortOption::title(Key key)
{
    switch (key) {
    case Key::Name: return u"Tên"_s;
    case Key::Modified: return u"Ngày sửa đổi"_s;
    case Key::Size: return u"Dung lượng"_s;
    case Key::Kind: return u"Loại file"_s;
    }
    return {};
}

QString SortOption::directionLabel(bool up) const
{
    switch (key) {
    case Key::Name:
    case Key::Kind: return up ? u"A → Z"_s : u"Z → A"_s;
    case Key::Modified: return up ? u"Cũ đến mới"_s : u"Mới đến cũ"_s;
    case Key::Size: return up ? u"Nhỏ đến lớn"_s : u"Lớn đến nhỏ"_s;
    }
    return {};
}

QString SortOption::kind(const QString &name, bool isFolder)
{
    if (isFolder)
        return {};
    const QString last = name.section(u'/', -1);
    const qsizetype dot = last.lastIndexOf(u'.');
    // A leading dot names a hidden file, not an extension.
    if (dot <= 0)
        return {};
    return last.mid(dot + 1).toLower();
}

QJsonObject SortOption::toJson() const
{
    return QJsonObject{{u"key"_s, rawValue(key)},
                       {u"ascending"_s, ascending},
                       {u"foldersFirst"_s, foldersFirst}};
}

QByteArray SortOption::toJsonBytes() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<SortOption> SortOption::fromJson(const QJsonObject &object)
{
    const QJsonValue k = object.value(u"key"_s);
    const QJsonValue a = object.value(u"ascending"_s);
    const QJsonValue f = object.value(u"foldersFirst"_s);
    if (!k.isString() || !a.isBool() || !f.isBool())
        return std::nullopt;
    const auto parsed = keyFromRawValue(k.toString());
    if (!parsed)
        return std::nullopt;
    return SortOption{*parsed, a.toBool(), f.toBool()};
}

std::optional<SortOption> SortOption::fromJsonBytes(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return fromJson(doc.object());
}

SortOption::Row SortOption::row(const QString &name, bool folder, const QDateTime &modified,
                                qint64 size) const
{
    const NameCollator &collator = NameCollator::forThisThread();
    return Row{collator.sortKey(name),
               key == Key::Kind ? std::optional(collator.sortKey(kind(name, folder)))
                                : std::nullopt,
               modified.isValid() ? modified.toMSecsSinceEpoch()
                                  : std::numeric_limits<qint64>::min(),
               size, folder};
}

QList<qsizetype> SortOption::order(const QList<Row> &rows) const
{
    QList<qsizetype> idx(rows.size());
    std::iota(idx.begin(), idx.end(), 0);
    auto three = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    const auto before = [&](qsizetype ia, qsizetype ib) {
        const Row &a = rows.at(ia);
        const Row &b = rows.at(ib);
        if (foldersFirst && a.folder != b.folder)
            return a.folder;
        int r = 0;
        switch (key) {
        case Key::Name: r = a.name.compare(b.name); break;
        case Key::Modified: r = three(a.modified, b.modified); break;
        case Key::Size: r = three(a.size, b.size); break;
        case Key::Kind: r = a.kind->compare(*b.kind); break;
        }
        if (r != 0)
            return ascending ? r < 0 : r > 0;
        return a.name.compare(b.name) < 0;
    };
    // A big list is sorted in two halves side by side, then merged; both steps are stable, so
    // the order is the one a single stable sort gives.
    if (idx.size() < parallelFrom) {
        std::stable_sort(idx.begin(), idx.end(), before);
        return idx;
    }
    const auto first = idx.begin();
    onBothHalves(idx.size(), [&](qsizetype from, qsizetype to) {
        std::stable_sort(first + from, first + to, before);
    });
    std::inplace_merge(first, first + idx.size() / 2, idx.end(), before);
    return idx;
}

} // namespace Tarnwick
