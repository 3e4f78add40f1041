// SPDX-License-Identifier: GPL-3.0-or-later
#include "bookcare.h"

#include "backupservice.h"
#include "bookfile.h"
#include "bookproof.h"
#include "database.h"
#include "failure.h"
#include "receiptbook.h"
#include "receiptproof.h"
#include "sharedbook.h"
#include "transaction.h"

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

bool verify(const QString &head, BookProof::Verdict *verdict, QString *error,
            const std::atomic_bool *cancel)
{
    const auto reader = [cancel](Database &book) {
        book.setOpenReadOnly(true);
        book.setLogsErrors(false);
        book.setCancel(cancel);
        book.setReadsWholeBook(true);
        return book.open();
    };
    Database book(BookFile::path(), Database::OpenMode::ExistingFileOnly);
    Database second(BookFile::path(), Database::OpenMode::ExistingFileOnly);
    if (!reader(book) || !reader(second))
        return fail(error, u"无法打开账本：%1"_s.arg(
                               (book.isOpen() ? second : book).lastError().message()));
    // Read a run at a time, each read short, so that saves go on meanwhile. A save between
    // two runs could look like a change nobody recorded: what seems wrong is proved again,
    // from one snapshot of the book.
    if (!BookProof::verify(book, verdict, error, cancel, &second))
        return false;
    if (!verdict->whole) {
        Transaction snapshot(book);
        if (!snapshot.begin(Transaction::Reads::OneSnapshot))
            return fail(error, u"无法读取账本：%1"_s.arg(snapshot.error().message()));
        if (!BookProof::verify(book, verdict, error, cancel))
            return false;
    }
    if (!verdict->whole || head.isEmpty())
        return true;
    bool found = false;
    if (!BookProof::containsHead(book, head, &found, error))
        return false;
    if (!found) {
        verdict->whole = false;
        verdict->problem
            = u"账本中没有链尾 %1：记录链已被改写"_s.arg(BookProof::shortHead(head));
    }
    return true;
}

bool verifyReceipt(const QString &typed, ReceiptProof::Answer *answer, QString *error)
{
    Database book(BookFile::path(), Database::OpenMode::ExistingFileOnly);
    book.setOpenReadOnly(true);
    book.setLogsErrors(false);
    if (!book.open())
        return fail(error, u"无法打开账本：%1"_s.arg(book.lastError().message()));
    // The receipt's rows, the receipt and its void as of one moment: a save in between
    // would look like a change nobody recorded.
    Transaction snapshot(book);
    if (!snapshot.begin(Transaction::Reads::OneSnapshot))
        return fail(error, u"无法读取账本：%1"_s.arg(snapshot.error().message()));
    return ReceiptProof::verify(book, typed, answer, error);
}

QString storedHead()
{
    Database book(BookFile::path(), Database::OpenMode::ExistingFileOnly);
    book.setOpenReadOnly(true);
    book.setLogsErrors(false);
    return book.open() ? BookProof::storedHead(book) : QString();
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
