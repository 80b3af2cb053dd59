#pragma once

#include <QTranslator>

class QCoreApplication;

namespace Tarnwick {

// Vietnamese for the texts of Qt's own widgets that Tarnwick shows: the file and folder choosers,
// message boxes and button boxes, and the edit menu of text fields. Debian ships no Vietnamese
// translation of Qt, so the project carries the few it needs.
class QtVietnameseTranslator final : public QTranslator
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QtVietnameseTranslator)

public:
    explicit QtVietnameseTranslator(QObject *parent = nullptr);

    QString translate(const char *context, const char *sourceText,
                      const char *disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override { return false; }

    // Installs one on app, once.
    static void install(QCoreApplication &app);
};

} // namespace Tarnwick
