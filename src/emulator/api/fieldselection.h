#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace Tarnwick::Emulator {

struct FieldSchema;

// A parsed "fields" parameter: "nextPageToken,files(id,name,capabilities/canEdit)" becomes a tree
// of names. A name given without a sub-selection, and "*", select everything below them.
class FieldSelection final
{
public:
    // Parses and checks against schema; throws ApiError "Invalid field selection X" naming the
    // first unknown or malformed part.
    static FieldSelection parse(const QString &text, const FieldSchema &schema);
    static FieldSelection everything();
    // Selection of the given top-level names (each with everything below).
    static FieldSelection of(const QStringList &names);

    bool includesAll() const { return m_all; }
    bool wants(const QString &name) const { return m_all || m_children.contains(name); }
    // What is selected below name (everything when name itself was selected whole).
    FieldSelection sub(const QString &name) const;
    QStringList names() const { return m_children.keys(); }
    bool operator==(const FieldSelection &other) const = default;

private:
    void merge(const FieldSelection &other);
    bool m_all = false;
    QMap<QString, FieldSelection> m_children;

    friend class FieldSelectionParser;
};

// The fields a resource has. An open schema accepts any name (maps such as properties); a field
// without a schema is a scalar.
struct FieldSchema
{
    QMap<QString, const FieldSchema *> fields;
    bool open = false;
};

namespace Schemas {
const FieldSchema &file();
const FieldSchema &fileList();
const FieldSchema &about();
const FieldSchema &permission();
const FieldSchema &permissionList();
const FieldSchema &drive();
const FieldSchema &driveList();
const FieldSchema &generatedIds();
// Every capability name a file may carry.
const QStringList &fileCapabilityNames();
} // namespace Schemas

} // namespace Tarnwick::Emulator
