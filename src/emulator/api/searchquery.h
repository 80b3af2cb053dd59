#pragma once

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace Tarnwick::Emulator {

// A files.list "q" expression: terms such as "'ID' in parents", "trashed = false",
// "name contains 'x'" or "modifiedTime > '2024-01-01T00:00:00'", combined with and, or, not and
// parentheses. String literals use single quotes with \' and \\ as the only escapes.
class SearchQuery final
{
public:
    enum class Field {
        Name,
        MimeType,
        FullText,
        Parents,
        Owners,
        Writers,
        Readers,
        Trashed,
        Starred,
        SharedWithMe,
        ModifiedTime,
        CreatedTime,
        ViewedByMeTime,
        SharedWithMeTime,
        Visibility
    };
    enum class Op { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual, Contains, In };

    // What a query looks at; the state answers it for one item and one user.
    class Subject
    {
    public:
        virtual ~Subject() = default;
        virtual QString text(Field field) const = 0;
        virtual bool flag(Field field) const = 0;
        virtual std::optional<QDateTime> time(Field field) const = 0;
        virtual bool inCollection(Field field, const QString &value) const = 0;
    };

    // Throws ApiError (400 invalid, location q) for anything it cannot read.
    static SearchQuery parse(const QString &text);
    // The empty query matches everything.
    SearchQuery() = default;

    bool matches(const Subject &subject) const;
    bool isEmpty() const { return m_nodes.empty(); }

    // The value of an "'X' in parents" term that every match must satisfy, if there is one: the
    // state lists that folder's children instead of scanning everything.
    std::optional<QString> requiredParent() const;
    // Whether every match must satisfy "sharedWithMe = true".
    bool requiresSharedWithMe() const;

    struct Node
    {
        enum class Kind { And, Or, Not, Term };
        Kind kind = Kind::Term;
        std::vector<int> children;
        Field field = Field::Name;
        Op op = Op::Equal;
        QString text;
        bool boolean = false;
        QDateTime time;
    };

private:
    bool evaluate(int node, const Subject &subject) const;
    template<typename Pred> std::optional<int> findRequired(int node, Pred pred) const;

    std::vector<Node> m_nodes;
    int m_root = -1;

    friend class SearchQueryParser;
};

} // namespace Tarnwick::Emulator
