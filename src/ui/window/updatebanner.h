#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

namespace Tarnwick {

// The strip offering a newer version: what is new, skip it, later, or download it.
class UpdateBanner final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateBanner)

public:
    explicit UpdateBanner(QWidget *parent = nullptr);

    // An empty notes text hides "Xem có gì mới".
    void setUpdate(const QString &version, const QString &notes);

    QLabel *titleLabel() const { return m_title; }
    QPushButton *notesButton() const { return m_notes; }
    QPushButton *skipButton() const { return m_skip; }
    QPushButton *laterButton() const { return m_later; }
    QPushButton *downloadButton() const { return m_download; }

signals:
    void notesClicked();
    void skipClicked();
    void laterClicked();
    void downloadClicked();

private:
    QLabel *m_title;
    QPushButton *m_notes;
    QPushButton *m_skip;
    QPushButton *m_later;
    QPushButton *m_download;
};

} // namespace Tarnwick
