#pragma once

#include "drive/driveclient.h"
#include "drive/drivefile.h"

#include <QCoroTask>
#include <QList>
#include <QString>

#include <stop_token>

namespace Tarnwick {

// One file of a download plan and the local path it is written to.
struct RemoteItem
{
    DriveFile file;
    QString destination;
};

// What a download makes: its files, and the local folders that no file will make (a Drive folder
// with no file below it, or one holding only Google documents).
struct RemoteTree
{
    QList<RemoteItem> files;
    QStringList emptyFolders;
};

// The files of a Drive item: the item itself when it is not a folder, else every file below it,
// a few folder listings at a time, with the folders that hold none. Google documents are left
// out. Each local name is made safe
// (never a path, never "." or "..", never a part file's name) and unique in its folder, also
// against names that differ only in case, in an order that does not depend on the listing's
// order, so a retry maps every Drive file to the same path as the first run.
QCoro::Task<RemoteTree> collectRemoteItems(DriveClient drive, DriveFile file, QString target,
                                           std::stop_token stop);

// The local names of one Drive folder's children, in the children's order.
QStringList localNames(const QList<DriveFile> &children);

} // namespace Tarnwick
