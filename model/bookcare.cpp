// SPDX-License-Identifier: GPL-3.0-or-later
#include "bookcare.h"

#include "backupservice.h"
#include "bookfile.h"
#include "failure.h"
#include "receiptbook.h"
#include "sharedbook.h"

using namespace Qt::StringLiterals;

namespace BookCare {

bool backUp(const QString &target, QString *error)
{
    if (BookFile::isSharedByDesks())
        return SharedBook::backup(BookFile::path(), target, error);
    return BackupService::backup(target, error);
}

std::optional<QStringList> check(QString *error)
{
    if (BookFile::isSharedByDesks())
        return SharedBook::check(BookFile::path(), error);
    if (!BookFile::checkUsable(error))
        return std::nullopt;
    if (QString refused; !BackupService::checkBook(BookFile::path(), nullptr, &refused))
        return QStringList {refused};
    // The unique index keeps one text from being stored twice, not one number in two
    // paddings ("5" beside "0000005"), nor an integer another program wrote beside a text.
    QString reason;
    const std::optional<QStringList> repeated = ReceiptBook::shared().repeatedNumbers(&reason);
    if (!repeated)
        fail(error, u"读取单号失败：%1"_s.arg(reason));
    return repeated;
}

bool restore(const QString &source, QString *error, QString *notice, bool *bookInUse)
{
    if (notice)
        notice->clear();
    if (BookFile::isSharedByDesks())
        return SharedBook::restore(BookFile::path(), source, error, bookInUse);
    RestoreCheck found;
    if (!BackupService::checkRestoreFile(source, &found, error))
        return false;
    if (notice)
        *notice = found.lossText();
    return BackupService::restore(source, error);
}

} // namespace BookCare
