#pragma once

#include <QWidget>

class QPushButton;

namespace Tarnwick {

class AccountButton;

// The row above the panes: the account button, then the Drive actions, the upload button last.
class ToolbarRow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ToolbarRow)

public:
    explicit ToolbarRow(QWidget *parent = nullptr);

    AccountButton *accountButton() const { return m_account; }
    QPushButton *linkDownloadButton() const { return m_linkDownload; }
    QPushButton *newFolderButton() const { return m_newFolder; }
    QPushButton *downloadButton() const { return m_download; }
    QPushButton *uploadButton() const { return m_upload; }

    // Enabling of the Drive actions: the link download needs a connection, the new folder and
    // the upload a Drive folder that takes uploads, the download one downloadable selection.
    void setEnabling(bool connected, bool canUpload, bool canDownload);

signals:
    void accountClicked();
    void linkDownloadClicked();
    void newFolderClicked();
    void downloadClicked();
    void uploadClicked();
    void uploadFolderClicked();

private:
    AccountButton *m_account;
    QPushButton *m_linkDownload;
    QPushButton *m_newFolder;
    QPushButton *m_download;
    QPushButton *m_upload;
};

} // namespace Tarnwick
