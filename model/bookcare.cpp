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
    const RestoreCheck found = BackupService::checkBook(BookFile::path());
    if (!found.ok)
        return QStringList {found.problem};
    // The unique index keeps one text from being stored twice, not one number in two
    // paddings ("5" beside "0000005"), nor an integer another program wrote beside a text.
    QString reason;
    const std::optional<QStringList> repeated = ReceiptBook::shared().repeatedNumbers(&reason);
    if (!repeated)
        fail(error, u"读取单号失败：%1"_s.arg(reason));
    return repeated;
}

Restored restore(const QString &source, QString *error, QString *notice)
{
    if (notice)
        notice->clear();
    if (BookFile::isSharedByDesks()) {
        switch (SharedBook::restore(BookFile::path(), source, error)) {
        case SharedBook::RestoreResult::Restored:
            return Restored::Done;
        case SharedBook::RestoreResult::DeskConnected:
            return Restored::BookInUse;
        case SharedBook::RestoreResult::Failed:
            break;
        }
        return Restored::Failed;
    }
    const RestoreCheck found = BackupService::checkRestoreFile(source);
    if (!found.ok) {
        if (error)
            *error = found.problem;
        return Restored::Failed;
    }
    if (notice)
        *notice = found.lossText();
    return BackupService::restore(source, error) ? Restored::Done : Restored::Failed;
}

} // namespace BookCare
