#include "api/searchquery.h"

#include "api/apierror.h"

#include <QHash>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

namespace {

using Field = SearchQuery::Field;
using Op = SearchQuery::Op;

struct Token
{
    enum class Type { Word, String, Operator, Open, Close, End };
    Type type = Type::End;
    QString text;
};

[[noreturn]] void invalid()
{
    throw ApiError::invalidValue(u"q"_s);
}

std::vector<Token> tokenize(const QString &q)
{
    std::vector<Token> tokens;
    qsizetype i = 0;
    while (i < q.size()) {
        const QChar c = q.at(i);
        if (c.isSpace()) {
            ++i;
        } else if (c == u'(') {
            tokens.push_back({Token::Type::Open, u"("_s});
            ++i;
        } else if (c == u')') {
            tokens.push_back({Token::Type::Close, u")"_s});
            ++i;
        } else if (c == u'\'') {
            QString value;
            ++i;
            bool closed = false;
            while (i < q.size()) {
                const QChar d = q.at(i);
                if (d == u'\\') {
                    if (i + 1 >= q.size())
                        invalid();
                    const QChar e = q.at(i + 1);
                    if (e != u'\'' && e != u'\\')
                        invalid();
                    value.append(e);
                    i += 2;
                } else if (d == u'\'') {
                    closed = true;
                    ++i;
                    break;
                } else {
                    value.append(d);
                    ++i;
                }
            }
            if (!closed)
                invalid();
            tokens.push_back({Token::Type::String, value});
        } else if (c == u'=' || c == u'<' || c == u'>' || c == u'!') {
            QString op(c);
            ++i;
            if (i < q.size() && q.at(i) == u'=') {
                op.append(u'=');
                ++i;
            }
            if (op == u"!"_s)
                invalid();
            tokens.push_back({Token::Type::Operator, op});
        } else if (c.isLetterOrNumber() || c == u'_') {
            const qsizetype start = i;
            while (i < q.size() && (q.at(i).isLetterOrNumber() || q.at(i) == u'_'))
                ++i;
            tokens.push_back({Token::Type::Word, q.mid(start, i - start)});
        } else {
            invalid();
        }
    }
    tokens.push_back({Token::Type::End, {}});
    return tokens;
}

const QHash<QString, Field> &fieldNames()
{
    static const QHash<QString, Field> names{
        {u"name"_s, Field::Name},
        {u"mimetype"_s, Field::MimeType},
        {u"fulltext"_s, Field::FullText},
        {u"parents"_s, Field::Parents},
        {u"owners"_s, Field::Owners},
        {u"writers"_s, Field::Writers},
        {u"readers"_s, Field::Readers},
        {u"trashed"_s, Field::Trashed},
        {u"starred"_s, Field::Starred},
        {u"sharedwithme"_s, Field::SharedWithMe},
        {u"modifiedtime"_s, Field::ModifiedTime},
        {u"createdtime"_s, Field::CreatedTime},
        {u"viewedbymetime"_s, Field::ViewedByMeTime},
        {u"sharedwithmetime"_s, Field::SharedWithMeTime},
        {u"visibility"_s, Field::Visibility},
    };
    return names;
}

bool isTimeField(Field f)
{
    return f == Field::ModifiedTime || f == Field::CreatedTime || f == Field::ViewedByMeTime ||
           f == Field::SharedWithMeTime;
}

bool isFlagField(Field f)
{
    return f == Field::Trashed || f == Field::Starred || f == Field::SharedWithMe;
}

bool isCollectionField(Field f)
{
    return f == Field::Parents || f == Field::Owners || f == Field::Writers || f == Field::Readers;
}

std::optional<QDateTime> parseTime(const QString &text)
{
    // RFC 3339; a missing zone means UTC.
    QString t = text;
    const bool hasZone =
        t.endsWith(u'Z') || t.endsWith(u'z') ||
        (t.size() > 19 && (t.at(t.size() - 6) == u'+' || t.at(t.size() - 6) == u'-'));
    if (!hasZone)
        t.append(u'Z');
    QDateTime dt = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!dt.isValid() || !text.contains(u'T'))
        return std::nullopt;
    return dt.toUTC();
}

} // namespace

class SearchQueryParser
{
public:
    SearchQueryParser(SearchQuery &query, std::vector<Token> tokens)
        : m_query(query)
        , m_tokens(std::move(tokens))
    {
    }

    int parse()
    {
        const int root = parseOr();
        if (peek().type != Token::Type::End)
            invalid();
        return root;
    }

private:
    const Token &peek() const { return m_tokens[m_pos]; }
    Token take() { return m_tokens[m_pos++]; }
    bool peekWord(const QString &word) const
    {
        return peek().type == Token::Type::Word &&
               peek().text.compare(word, Qt::CaseInsensitive) == 0;
    }

    int add(SearchQuery::Node node)
    {
        m_query.m_nodes.push_back(std::move(node));
        return int(m_query.m_nodes.size()) - 1;
    }

    int combine(SearchQuery::Node::Kind kind, int left, int right)
    {
        SearchQuery::Node node;
        node.kind = kind;
        node.children = {left, right};
        return add(node);
    }

    int parseOr()
    {
        int left = parseAnd();
        while (peekWord(u"or"_s)) {
            take();
            left = combine(SearchQuery::Node::Kind::Or, left, parseAnd());
        }
        return left;
    }

    int parseAnd()
    {
        int left = parseUnary();
        while (peekWord(u"and"_s)) {
            take();
            left = combine(SearchQuery::Node::Kind::And, left, parseUnary());
        }
        return left;
    }

    int parseUnary()
    {
        // Nesting is bounded: a query of endless "(" or "not" would otherwise overflow the stack,
        // here and when the query is matched.
        constexpr int maxDepth = 64;
        if (++m_depth > maxDepth)
            invalid();
        const int node = parseUnaryInner();
        --m_depth;
        return node;
    }

    int parseUnaryInner()
    {
        if (peekWord(u"not"_s)) {
            take();
            SearchQuery::Node node;
            node.kind = SearchQuery::Node::Kind::Not;
            node.children = {parseUnary()};
            return add(node);
        }
        if (peek().type == Token::Type::Open) {
            take();
            const int inner = parseOr();
            if (take().type != Token::Type::Close)
                invalid();
            return inner;
        }
        return parseTerm();
    }

    static Field field(const Token &token)
    {
        if (token.type != Token::Type::Word)
            invalid();
        const auto it = fieldNames().find(token.text.toLower());
        if (it == fieldNames().end())
            invalid();
        return it.value();
    }

    int parseTerm()
    {
        SearchQuery::Node node;
        const Token first = take();
        if (first.type == Token::Type::String) {
            // 'value' in collection
            if (!peekWord(u"in"_s))
                invalid();
            take();
            node.field = field(take());
            if (!isCollectionField(node.field))
                invalid();
            node.op = Op::In;
            node.text = first.text;
            return add(node);
        }
        node.field = field(first);
        const Token op = take();
        if (op.type == Token::Type::Operator) {
            static const QHash<QString, Op> ops{{u"="_s, Op::Equal},   {u"!="_s, Op::NotEqual},
                                                {u"<"_s, Op::Less},    {u"<="_s, Op::LessEqual},
                                                {u">"_s, Op::Greater}, {u">="_s, Op::GreaterEqual}};
            // "==" and the like are not operators of the language.
            const auto known = ops.find(op.text);
            if (known == ops.end())
                invalid();
            node.op = known.value();
        } else if (op.type == Token::Type::Word &&
                   op.text.compare(u"contains"_s, Qt::CaseInsensitive) == 0) {
            node.op = Op::Contains;
        } else {
            invalid();
        }
        const Token value = take();
        if (isFlagField(node.field)) {
            if (node.op != Op::Equal && node.op != Op::NotEqual)
                invalid();
            if (value.type != Token::Type::Word)
                invalid();
            const QString v = value.text.toLower();
            if (v != u"true"_s && v != u"false"_s)
                invalid();
            node.boolean = v == u"true"_s;
        } else if (isTimeField(node.field)) {
            if (node.op == Op::Contains || value.type != Token::Type::String)
                invalid();
            const auto t = parseTime(value.text);
            if (!t)
                invalid();
            node.time = *t;
        } else if (isCollectionField(node.field)) {
            invalid();
        } else {
            if (value.type != Token::Type::String)
                invalid();
            const bool ordered =
                node.op != Op::Equal && node.op != Op::NotEqual && node.op != Op::Contains;
            if (ordered || (node.field == Field::FullText && node.op != Op::Contains) ||
                (node.field == Field::Visibility && node.op == Op::Contains))
                invalid();
            node.text = value.text;
        }
        return add(node);
    }

    SearchQuery &m_query;
    std::vector<Token> m_tokens;
    size_t m_pos = 0;
    int m_depth = 0;
};

SearchQuery SearchQuery::parse(const QString &text)
{
    SearchQuery query;
    if (text.trimmed().isEmpty())
        return query;
    query.m_root = SearchQueryParser(query, tokenize(text)).parse();
    return query;
}

bool SearchQuery::matches(const Subject &subject) const
{
    return m_root < 0 || evaluate(m_root, subject);
}

bool SearchQuery::evaluate(int index, const Subject &subject) const
{
    const Node &node = m_nodes[size_t(index)];
    switch (node.kind) {
    case Node::Kind::And:
        return evaluate(node.children[0], subject) && evaluate(node.children[1], subject);
    case Node::Kind::Or:
        return evaluate(node.children[0], subject) || evaluate(node.children[1], subject);
    case Node::Kind::Not:
        return !evaluate(node.children[0], subject);
    case Node::Kind::Term:
        break;
    }
    if (node.op == Op::In)
        return subject.inCollection(node.field, node.text);
    if (isFlagField(node.field)) {
        const bool value = subject.flag(node.field);
        return node.op == Op::Equal ? value == node.boolean : value != node.boolean;
    }
    if (isTimeField(node.field)) {
        const auto t = subject.time(node.field);
        if (!t)
            return false;
        switch (node.op) {
        case Op::Equal:
            return *t == node.time;
        case Op::NotEqual:
            return *t != node.time;
        case Op::Less:
            return *t < node.time;
        case Op::LessEqual:
            return *t <= node.time;
        case Op::Greater:
            return *t > node.time;
        case Op::GreaterEqual:
            return *t >= node.time;
        default:
            return false;
        }
    }
    const QString value = subject.text(node.field);
    switch (node.op) {
    case Op::Equal:
        return value == node.text;
    case Op::NotEqual:
        return value != node.text;
    case Op::Contains:
        return value.contains(node.text, Qt::CaseInsensitive);
    default:
        return false;
    }
}

template<typename Pred> std::optional<int> SearchQuery::findRequired(int index, Pred pred) const
{
    const Node &node = m_nodes[size_t(index)];
    if (node.kind == Node::Kind::Term)
        return pred(node) ? std::optional<int>(index) : std::nullopt;
    if (node.kind == Node::Kind::And) {
        if (auto left = findRequired(node.children[0], pred))
            return left;
        return findRequired(node.children[1], pred);
    }
    return std::nullopt;
}

std::optional<QString> SearchQuery::requiredParent() const
{
    if (m_root < 0)
        return std::nullopt;
    const auto found = findRequired(
        m_root, [](const Node &n) { return n.op == Op::In && n.field == Field::Parents; });
    if (!found)
        return std::nullopt;
    return m_nodes[size_t(*found)].text;
}

bool SearchQuery::requiresSharedWithMe() const
{
    if (m_root < 0)
        return false;
    return findRequired(m_root,
                        [](const Node &n) {
                            return n.field == Field::SharedWithMe &&
                                   ((n.op == Op::Equal && n.boolean) ||
                                    (n.op == Op::NotEqual && !n.boolean));
                        })
        .has_value();
}

} // namespace Tarnwick::Emulator
