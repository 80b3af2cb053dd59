#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include <optional>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Tarnwick {

class Transfers;

// Downloads a Drive file or folder from a pasted link into a folder of the user's choice. The
// sheet reads the Drive ID from the link itself; an unreadable link keeps it open with a message.
class LinkDownloadSheet final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LinkDownloadSheet)

public:
    // initialFolder: the folder offered first; else the user's Downloads folder.
    LinkDownloadSheet(Transfers *transfers, const QString &initialLink,
                      const std::optional<QString> &initialFolder, QWidget *parent = nullptr);

    QString linkText() const;
    void setLinkText(const QString &text);
    const QString &targetFolder() const { return m_targetFolder; }
    void setTargetFolder(const QString &folder);
    // The error line's text; empty when none is shown.
    QString error() const;
    // "Tải về ngay": reads the ID and hands it on, or shows why not.
    void submit();

    // The folder lies on an external volume (removable media and mounts).
    static bool isExternalDrive(const QString &path);

signals:
    void downloadRequested(const QString &id, const QString &folder);

private:
    void chooseFolder();
    void updateFolder();
    void addChip(const QString &title, const QString &folder);

    QPointer<Transfers> m_transfers;
    QLineEdit *m_link;
    QLabel *m_folderIcon;
    QLabel *m_folderName;
    QLabel *m_folderPath;
    QHBoxLayout *m_chips;
    QLabel *m_error;
    QPushButton *m_download;
    QString m_targetFolder;
};

} // namespace Tarnwick
