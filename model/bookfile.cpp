// SPDX-License-Identifier: GPL-3.0-or-later
#include "bookfile.h"

#include "bookcontents.h"
#include "sqlitehelper.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace BookFile {

QString path()
{
    return SQLiteHelper::shared().dbURL();
}

QString displayName()
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    return helper.livesInAFile() ? QDir::toNativeSeparators(helper.dbURL())
                                 : u"共享账本 "_s + helper.bookName();
}

QString title()
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    return helper.livesInAFile() ? QFileInfo(helper.dbURL()).fileName() : displayName();
}

bool isSharedByDesks()
{
    return !SQLiteHelper::shared().livesInAFile();
}

bool isHeldByOneProgram()
{
    return SQLiteHelper::shared().livesInAFile();
}

QString folder()
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    return helper.livesInAFile() ? QFileInfo(helper.dbURL()).absolutePath() : QString();
}

bool canRestoreInWindow()
{
    return SQLiteHelper::shared().livesInAFile();
}

bool keepsAutomaticBackups()
{
    return SQLiteHelper::shared().livesInAFile();
}

QString documentsDirectory()
{
    return SQLiteHelper::documentsDirectory();
}

bool isAvailable()
{
    return SQLiteHelper::shared().isAvailable();
}

bool checkUsable(QString *error)
{
    SQLiteHelper &book = SQLiteHelper::shared();
    return book.checkUsable(error, BookContents::firstReceiptStatement(book.db().dialect()));
}

void checkFileLater()
{
    SQLiteHelper::shared().setFileCheck(SQLiteHelper::FileCheck::Later);
}

QString damage()
{
    return SQLiteHelper::shared().damage();
}

QStringList unknownObjects()
{
    return SQLiteHelper::shared().schemaReport().unknownObjects;
}

bool isNewer()
{
    return SQLiteHelper::shared().schemaReport().isNewer;
}

QStringList duplicateReceiptNumbers()
{
    return SQLiteHelper::shared().schemaReport().duplicateReceiptNumbers;
}

bool isReadOnly()
{
    return SQLiteHelper::shared().db().isReadOnly();
}

bool opensReadOnly()
{
    return SQLiteHelper::shared().db().opensReadOnly();
}

void setOpenReadOnly(bool readOnly)
{
    SQLiteHelper::shared().db().setOpenReadOnly(readOnly);
}

void setWaitNotice(void (*notice)(bool waiting))
{
    Database::setWaitNotice(notice);
}

void setOnlyReads()
{
    SQLiteHelper::shared().db().setDeskLock(Database::DeskLock::WhenFree);
}

void setConsoleLinesToStandardError(bool toStandardError)
{
    SQLiteHelper::setConsoleLinesToStandardError(toStandardError);
}

} // namespace BookFile
