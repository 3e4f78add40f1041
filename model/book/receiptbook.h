// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bookimport.h"
#include "receipt.h"
#include "receipthistory.h"
#include "receiptnumbering.h"
#include "seriestables.h"

#include <QDate>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class ResultSet;
class SQLiteHelper;
class SqlDialect;

// What one write did to the book: which receipts, and how. Rows are the receipts' rowids
// as they were when the write ran (a removed receipt has no row to ask for afterwards).
struct BookChange
{
    enum class Kind { Issued, Updated, Removed, Voided, Unvoided, Restored };
    Kind kind = Kind::Issued;
    QStringList ids;
    QList<qint64> rows;
    // Told by another desk of a shared book rather than written by this program.
    bool elsewhere = false;
};
Q_DECLARE_METATYPE(BookChange)

// A closing of days (日结): every receipt dated up to `closedTo` is final from then on.
struct DayClosing
{
    QDate closedTo;
    QDateTime time;
    QString desk;
    // The record chain's head as the closing left it: the link of its own record.
    QString head;
};

// What a save of a new receipt stored.
struct IssueResult
{
    // The number the receipt was stored under: the one it came with, or the next free
    // one when another copy of the program took that number first.
    QString receiptNo;
    // The numbering counter as the save left it in the book (past the number used).
    qint64 counter = 0;
    // The id the receipt is stored under (an earlier save of the same form, whose answer
    // was lost, may have stored it under its own).
    QString id;
    // What the form should say besides "已保存" (a save that was found stored after the
    // connection broke), in Chinese; empty for an ordinary save.
    QString note;
    // On a shared book: the numbering as the save left it, with the number the form shows
    // next already found free by the save itself; the form shows it without asking again.
    std::optional<ReceiptNoSetting> nextChecked;
    // The same for a receipt of another series: the number the form shows next.
    QString nextInSeries;
};

// The receipts of the book. Its room (model/book/: this class, the lists' paged reads, the
// row mapping, the statistics, the search index and the streamed reads of exports) holds
// every statement the program runs on the book's tb_receipt, tb_void and tb_history; the
// backups and the shared book's copy read and write other files and servers whole. It
// reads and writes through the connection it is given, runs every write
// with the history rows that belong to it in one transaction, answers a failure as a
// Chinese text, and tells each change that was committed (changed()), so that the lists
// update the rows they show instead of reading the book again.
class ReceiptBook : public QObject
{
    Q_OBJECT

public:
    // The book on the program's one connection, whichever file that has open now. It
    // lives as long as the program, so the lists stay connected to it.
    static ReceiptBook &shared();
    // A book on `connection`; on the program's connection when null.
    explicit ReceiptBook(SQLiteHelper *connection = nullptr, QObject *parent = nullptr);

    // How the book's engine words what engines word differently, and what it can do.
    const SqlDialect &dialect() const;
    // Tells every list that the book was replaced as a whole (a restore, another file).
    void tellReplaced();

    // --- desks of a shared book ----------------------------------------------------------

    // The desk that makes the history rows of this program ("user@host"), when the book
    // keeps one (a shared book upgraded by a role that may not change its tables does not).
    std::optional<QString> historyDesk();
    static QString deskName();

    // Each write to a shared book tells the other desks in its transaction, with NOTIFY on
    // this channel; they hear of it when it commits.
    static QString deskChannel();
    // The condition every statement puts on the receipts the lists, totals, counts and
    // checks show (those not deleted): "isDeleted <> 1", its column named after `table`
    // when one is given.
    static QString liveCondition(const QString &table = {});
    // What a change is told as: "kind;id,id;row,row", or "*" for the whole book.
    static QString payloadOf(const BookChange &change);
    static std::optional<BookChange> changeOfPayload(const QString &payload);
    // A change another desk committed: the lists update their rows as for one of this
    // program (changed()), or read again for the whole book (replaced()); changedElsewhere()
    // tells it first, for a receipt open in the form.
    void tellFromElsewhere(const QString &payload);

    // --- reads -------------------------------------------------------------------------

    // The receipts dated between begin and end (texts as the lists keep their bounds),
    // highest number first, void reasons filled in. Rows that cannot be read (a date not
    // of the form yyyy-MM-dd HH:mm:ss, no number) are counted in skipped, not listed.
    // False when the read failed ("读取收据失败：…").
    struct RangeRead
    {
        QList<Receipt> receipts;
        int skipped = 0;
    };
    bool readRange(const QString &begin, const QString &end, RangeRead *read,
                   QString *error = nullptr);
    // The day of the earliest receipt dated between begin and end, as the lists read it
    // (a date they cannot read is passed over); nothing when there is none, or the book
    // cannot be read.
    std::optional<QDate> firstReceiptDay(const QString &begin, const QString &end);
    // Reads the stored receipt of `id` as it is now, with its void, into *receipt (nothing:
    // no such receipt). False when it cannot be read (a receipt whose void cannot be read
    // could be printed without its stamp).
    bool read(const QString &id, std::optional<Receipt> *receipt, QString *error = nullptr);
    // The receipts of `rows` (rowids), in that order; a row gone meanwhile is left out.
    // Void reasons are filled in. Nothing when the read failed. While changed() is being
    // told, rows read for one list are not read again for the next.
    std::optional<QList<Receipt>> readRows(const QList<qint64> &rows);
    // The first `limit` receipts the lists show under `where`, in the book's order, each
    // with its rowid (quenta_row) and its void (quenta_void): what a list far from the book
    // asks together with its count, its first page then costing no round trip of its own.
    static QString firstRowsStatement(const QString &where, qsizetype limit);
    // The receipts of rows read by firstRowsStatement (or rowsStatement, without voids),
    // each with its rowid, in the order read; nothing when they could not be read.
    std::optional<QList<std::pair<qint64, Receipt>>> receiptsOf(ResultSet &rows, bool withVoids);
    // The text of the code (ReceiptProof) that `receipt` is printed with, into *code: the
    // link of its newest history row, read as the page is made and so before the print's
    // own row is written. Empty for a receipt not stored, in a book without a record chain,
    // or when that row does not record the receipt as given (a copy changed since). False
    // when it cannot be read.
    bool readPrintCode(const Receipt &receipt, QString *code, QString *error = nullptr);
    // The rowid of the receipt `id`; nothing when there is none or it cannot be read.
    std::optional<qint64> rowOf(const QString &id);
    // Reads the id of the receipt the lists show under `receiptNo` (one not marked
    // deleted) into *id (nothing: no such receipt). False when it cannot be read.
    bool readIdOfNumber(const QString &receiptNo, std::optional<QString> *id,
                        QString *error = nullptr);
    // Whether a new receipt may not be given this number (*used): taken now, or issued
    // once. False when the check could not be made.
    bool isNumberUsed(const QString &number, qint64 value, bool *used, QString *error = nullptr);
    // On a shared book, in one round trip: true when the counter is stored just as
    // `setting` and its number is free, so that the form may show it as it is. False
    // otherwise, and when the book cannot answer so (a file, a book without the
    // procedures): the numbering then asks step by step.
    bool isCounterStoredAndFree(const ReceiptNoSetting &setting);
    // The numbers more than one stored receipt carries, in any padding, as lines of the
    // integrity check ("单号 No.0000005 重复（2 张，写作 0000005、5）"); the first ten.
    // Nothing when they cannot be read.
    std::optional<QStringList> repeatedNumbers(QString *error = nullptr);
    // Its statement on either engine, and a line of it from a row's first number, count,
    // count of spellings and the spellings joined by commas.
    static QString repeatedNumbersStatement(const SqlDialect &dialect);
    static QString repeatedNumberFinding(const QString &first, qint64 count, qint64 spellings,
                                         const QString &spelled);
    // For the statistics: each receipt they count (not deleted, not voided) dated within
    // [begin, end], as its group (the month "yyyy-MM", the payer, the reason or the payment
    // method) and its amount as stored; false when the book cannot be read. The voided ones
    // of the range are counted apart; nothing when that cannot be read.
    enum class Group { Month, Payer, Reason, Paytype };
    bool readCounted(Group group, const QString &begin, const QString &end,
                     const std::function<void(const QString &group, QByteArrayView amount)> &row);
    std::optional<qint64> voidedCount(const QString &begin, const QString &end);
    // The void reason of each voided receipt, by id; empty when none is voided or the
    // table cannot be read.
    QHash<QString, QString> voidReasons();
    // The reasons of those of ids that are voided; nothing when they could not be read.
    std::optional<QHash<QString, QString>> voidReasons(const QStringList &ids);
    // Reads the void reason of one receipt now into *reason (nothing: not voided). False
    // when it cannot be read: then nobody can say whether it is voided.
    bool readVoidReason(const QString &receiptId, std::optional<QString> *reason);
    // The void of one receipt as its history keeps it ({"reason", "voidDate"}); empty when
    // it is not voided or cannot be read.
    QJsonObject voidDetail(const QString &receiptId);
    // The reasons given before, most used first, for the reason picker.
    QStringList earlierVoidReasons();
    // The texts the form's combo boxes take (payer, reason1, reason2, remark, in that
    // order) of the `receipts` receipts added last that the lists show, newest first; one
    // read along the rowid, bounded on both engines. Nothing when it cannot be read.
    std::optional<QList<QStringList>> recentFormTexts(int receipts);
    static QString recentFormTextsStatement(int receipts);
    // The history rows, newest first: all of them, or those whose receipt number contains
    // `receiptNo` and whose time lies within [from, to] (a null date leaves that end open).
    // Nothing when the history cannot be read.
    std::optional<QList<HistoryEntry>> history(const QString &receiptNo = {}, QDate from = {},
                                               QDate to = {}, const QString &receiptId = {},
                                               QString *error = nullptr);
    // Why the book keeps no history and no voids (a book from an older version that could
    // not be brought up to date), in Chinese; empty when it does.
    QString historyUnavailableReason();
    // The first column a receipt cannot do without (id, receiptNo, receiptDate,
    // createDate, total) that tb_receipt lacks; empty when it has them all or the table
    // cannot be read.
    QString missingColumn();
    // Whether the book has the index of that name (one made after it, or in the
    // background, may be missing still).
    bool hasIndex(const QString &name);
    // Whether the search index covers every receipt (a book made before it has it filled
    // in the background); until then the lists search by reading the receipts.
    bool searchIndexReady();
    // A count of the commits other connections (other programs) made to the book: equal
    // answers mean nothing was written by them in between; this connection's own writes
    // are told by changed(). Nothing when unknown.
    std::optional<qint64> changeCounter();

    // --- closed days (日结) ---------------------------------------------------------------

    // The book's closings, oldest first, each with the head of the chain it left; none for
    // a book from before closings. Nothing when they cannot be read.
    std::optional<QList<DayClosing>> closings(QString *error = nullptr);
    // The last day closed (a null date: none), as last read from this book: read once, then
    // kept until the book is replaced or closes a day; for the lists' mark, which must not
    // cost a read of its own.
    QDate knownClosedThrough();
    // Whether a receipt of `day` is closed (as knownClosedThrough() knows it).
    bool isClosed(QDate day) { const QDate through = knownClosedThrough(); return through.isValid() && day <= through; }
    // Closes every day up to `day` (not after today), for good, with a chained record of
    // the closing, in one transaction. On a server the receipts are held while it closes: a
    // save of another desk is either in before the closing or refused after it. Refused for
    // a day closed already. `closing`, when given, is what was stored. Tells replaced().
    bool closeDays(QDate day, DayClosing *closing = nullptr, QString *error = nullptr);
    // The receipts dated on `day` (not deleted), lowest number first, and those dated
    // before it voided on it (跨日作废), each with its void. False when they cannot be read.
    struct DayRead
    {
        QList<Receipt> receipts;
        QList<Receipt> voidedLater;
    };
    bool readDay(QDate day, DayRead *read, QString *error = nullptr);
    // Records a change of a setting of the whole book (the header, the numbering as the user
    // set it) in the chain: `changes` is {label: [before, after]}. Written in the caller's
    // transaction, as the change itself.
    bool recordSetting(const QString &setting, const QJsonObject &changes);

    // --- series and paper books (收据类别, 收据本) -------------------------------------------

    // What became of a number of a series: issued (and still in the book), voided, deleted,
    // or its form spoiled (废票).
    struct NumberUse
    {
        enum class Kind { Issued, Voided, Deleted, Spoiled };
        qint64 value = 0;
        QString receiptNo;
        Kind kind = Kind::Issued;
        QString receiptId;
        QDateTime date;
        double total = 0;
        // The void's or the spoiled form's reason.
        QString reason;
        // For a spoiled form: the number its receipt was given instead; empty when none was.
        QString renumbered;
    };
    // The numbers of `series` in `year` from first to last that are used, by value (a number
    // used twice over, spoiled and then deleted, once: the latest use). False when they
    // cannot be read.
    bool readNumberUses(const ReceiptSeries &series, int year, qint64 first, qint64 last,
                        QList<NumberUse> *uses, QString *error = nullptr);
    // The highest number of [first, last] of `series` in `year` that a receipt or the
    // history carries; 0 for none. Nothing when it cannot be read.
    std::optional<qint64> highestUsed(const ReceiptSeries &series, int year, qint64 first,
                                      qint64 last);
    // Where the next number of a series with paper books comes from: the earliest book not
    // returned that has numbers left, from the number after its highest used (and not before
    // `from`). Nothing with *why when every book is used up or returned (or, with *why empty,
    // the books could not be read); `book` tells which book it is in.
    std::optional<qint64> nextInBooks(const ReceiptSeries &series, int year, qint64 from,
                                      const QList<PaperBook> &books, QString *why,
                                      PaperBook *book = nullptr);
    // The next number of `series` for a receipt dated `day`, as a save would give it now, and
    // its paper book if the series has any. False with why not.
    struct SeriesNext
    {
        QString number;
        qint64 value = 0;
        std::optional<PaperBook> book;
    };
    bool nextInSeries(const QString &series, QDate day, SeriesNext *next, QString *error = nullptr);
    // Records the form of `number` as spoiled (废票: jammed, misprinted), with the reason, for
    // good. When a receipt carries that number, it is given the next number of its series (of
    // its paper book) in the same transaction, its history saying so: it is printed again on
    // the next form. Refused for a number of no series, one not yet reached, one spoiled,
    // voided or deleted already, and outside the series' paper books.
    struct Spoiled
    {
        QString number;
        QString receiptId;
        // The number the receipt meant for the form has now; empty when none was.
        QString renumbered;
    };
    bool spoil(const QString &number, const QString &reason, Spoiled *spoiled,
               QString *error = nullptr);
    // The receipts printed again on another form after theirs was spoiled, by id, each with
    // what its spoiled form was ("No.0000002（卡纸）"), as last read from this book: read once,
    // then kept until the book is replaced, a form is spoiled here or a change is told from
    // another desk; for the lists' mark, which must not cost a read of its own.
    QHash<QString, QString> knownSpoiledForms();
    // The spoiled forms recorded on `day` (their record's time), each as a use.
    bool readSpoiledOn(QDate day, QList<NumberUse> *spoiled, QString *error = nullptr);

    // --- writes: each in one transaction with its history rows ---------------------------

    // Stores a new receipt under a number that no other receipt carries: check that the
    // number is still free (or move to the next free one), insert, move the numbering
    // counter past it, commit. Two copies of the program on one book can then never store
    // one number twice, and a failed check never counts as free.
    // A save whose COMMIT went out and whose answer was lost (the server went away) is
    // looked for on a new connection by the receipt's id: found, it is saved; not found, it
    // failed; when the book cannot be reached, the next issue() looks again first, and a
    // form saved again with the same fields is then not stored twice.
    // False with the reason, in Chinese, for the form to show.
    // `series` names the series the number is of (empty: the default, tb_receiptNo's).
    bool issue(const Receipt &receipt, IssueResult *result = nullptr, QString *error = nullptr,
               const QString &series = {});
    static QString unconfirmedText();
    // What a failed save adds when the server could not be reached; empty otherwise.
    QString keptWhenLost() const;
    // Why an update() was refused when saving the same form again cannot mend it: the
    // stored receipt is no longer the one opened, is voided, or is gone. None for every
    // other failure (the book out of reach, a lock), which a later save may get past.
    enum class Refusal { None, Changed, Voided, Removed };
    // Writes the editable fields of `receipt` to the stored receipt `id`. Refused for a
    // receipt gone meanwhile or voided. With `asOpened` (the receipt as read when it was
    // opened for editing), refused as well when the stored one is no longer that receipt
    // ("该收据已在其他电脑上修改", 作废, 删除); a save sets it to the receipt as stored then.
    // `refusal`, when given, tells which of these refused it.
    bool update(const QString &id, const Receipt &receipt, QString *error = nullptr,
                Receipt *asOpened = nullptr, Refusal *refusal = nullptr);
    // Deletes the receipts of `ids` for good, each kept whole in the history. Receipts
    // already gone are skipped; one that cannot be read stops the whole delete.
    bool remove(const QSet<QString> &ids, QString *error = nullptr);
    // Voids every receipt of `ids` that is not voided yet, with the reason (required).
    bool voidReceipts(const QStringList &ids, const QString &reason, QString *error = nullptr);
    // Undoes the void of every voided receipt of `ids`.
    bool unvoidReceipts(const QStringList &ids, QString *error = nullptr);
    // Writes the history row of a receipt that was printed.
    bool recordPrint(const QString &receiptId, QString *error = nullptr);
    // Puts a deleted receipt back from its history row, with its id, number and every
    // field, logged as a restore. Refused when its number or id is taken meanwhile.
    bool restoreDeleted(const HistoryEntry &deletion, QString *error = nullptr);

    // The insert statement of a receipt, with `createDate` as its creation time.
    static QString insertStatement(const Receipt &receipt, const QDateTime &createDate);
    // The read of the lists: every row of a date range, highest number first.
    static QString rangeStatement(const QString &begin, const QString &end);
    // The same rows in the same order, read along the number index rather than found by
    // date and then sorted: quicker for a range that holds about the whole book, where
    // sorting every row costs more than passing the rows outside it.
    static QString rangeStatementByNumber(const QString &begin, const QString &end);
    // The earliest and the latest receipt date stored, read from the date index.
    static QString dateSpanStatement();
    // The rows of `rows` (rowids), each with its rowid first (as quenta_row), in no order.
    static QString rowsStatement(const QList<qint64> &rows);

    // Brings the receipts of `source` into the book in one transaction, all or nothing:
    // each with its void and one history row (import, with the file's name), the numbering
    // counter moved past the highest number brought, and the lookup lists given the
    // payers, reasons, payment methods and people they lack. Every row is checked first;
    // one problem (the source's or a number taken, in the book or twice in the file) and
    // nothing is written. Tells replaced() when written.
    // False with the reason: why it could not run, or how many problems stopped it (then
    // result->problems names them).
    bool importReceipts(BookImport::Source &source, const BookImport::Options &options,
                        BookImport::Result *result, QString *error = nullptr);

Q_SIGNALS:
    // A write was committed.
    void changed(const BookChange &change);
    // The whole book may be other than it was: what is shown must be read again.
    void replaced();
    // Another desk of a shared book committed this change (ids empty: the whole book).
    void changedElsewhere(const BookChange &change);

private:
    // The list's paged reads are the book's own statements, run on its connection.
    friend class ReceiptList;
    SQLiteHelper &connection() const;
    // Why the connection's last read or write failed, in Chinese.
    QString lastError() const;
    // The stored receipt of `id`, or nothing (gone, or unreadable).
    std::optional<Receipt> readNow(const QString &id);
    // Whether a stored receipt carries this number: as the text itself, in another padding
    // ("5" or "00000005" for "0000005": one number, see ReceiptNumber), or written by
    // another program as a blob of the same text or as the plain number. Nothing when the
    // check could not be made (a lock, a damaged file).
    std::optional<bool> isNumberTaken(const QString &number, qint64 value);
    // Whether the history shows that this number (in any padding) was ever in the book:
    // issued, imported or restored, deleted since or not. Its paper may be in someone's
    // hands, whatever the counter was set back to. Nothing when it cannot be read.
    std::optional<bool> wasNumberIssued(const QString &number);
    // Whether the book has its table of voids: a book from before voids were kept, opened
    // read-only (not brought up to date), has none and so no voided receipt. Nothing when
    // it cannot be read.
    std::optional<bool> keepsVoids();
    // Whether the receipt `id` is in the book; nothing when that cannot be read.
    std::optional<bool> isStored(const QString &id);
    std::optional<bool> numberUsed(const QString &number, qint64 value);

    bool changeVoids(const QStringList &ids, const std::optional<QString> &reason, QString *error);
    // A save of a new receipt as it ended: stored, or why not.
    struct Issue : IssueResult
    {
        bool saved = false;
        QString error;
    };
    Issue issueNow(const Receipt &receipt, const QString &series);
    // A receipt of a series other than the default, in one transaction: its series locked,
    // its counter for the receipt's year, its paper books.
    Issue issueInSeries(const Receipt &receipt, const QString &series, const QString &note);
    // The same on a server by one statement (quenta_issue_in_series): one round trip. Nothing
    // when the book leaves it to the transaction (a series with paper books, a book without
    // the procedure).
    std::optional<Issue> issueInSeriesInOneStatement(const Receipt &receipt, const QString &series,
                                                     const QString &note);
    // Whether a number of `series` in `year` is used: by a receipt or the history, in any
    // padding. Nothing when it cannot be read.
    std::optional<bool> seriesNumberUsed(const ReceiptSeries &series, int year, qint64 value);
    static Issue notSaved(const QString &error);
    BookImport::Result importNow(BookImport::Source &source, const BookImport::Options &options,
                                 QString *failure);
    // A receipt issued on a server by one statement (the book's procedure quenta_issue):
    // one round trip, two when another desk moved the counter since this one last saw it.
    // Nothing when the statement cannot decide (a book without the procedure, a counter
    // that keeps moving, a failure that is no lost connection): the step-by-step
    // transaction then issues it, and says what went wrong.
    std::optional<Issue> issueInOneStatement(const Receipt &receipt, const QString &note);
    // A new receipt whose save's answer was lost, looked for by its id on a new connection:
    // why it counts as not saved (not found, or the book out of reach, the receipt then kept
    // as unconfirmed), or nothing when it is in the book.
    std::optional<Issue> settleLostIssue(const Receipt &kept);
    // Whether the last statement failed for want of one of those procedures (a book from
    // before them) or of the right to call it: the step-by-step transaction then writes.
    bool isProcedureMissing() const;
    // Voids or un-voids on a server in two round trips: the receipts read, then changed by
    // one statement (quenta_change_voids) while they are still as read. Nothing when it
    // cannot decide: changeVoids() then goes step by step.
    // An edit saved on a server by one statement (quenta_update) while the receipt is as
    // `opened` says; nothing when it is not (or cannot be): update() then goes step by step,
    // and says what changed.
    std::optional<bool> updateInOneStatement(const QString &id, const Receipt &edited,
                                             Receipt &opened, QString *error);
    std::optional<bool> changeVoidsInOneStatement(const QStringList &ids,
                                                  const std::optional<QString> &reason,
                                                  QString *error);
    // Whether a receipt carries `number` as written (the numbering's own count).
    std::optional<bool> isTakenAsWritten(const QString &number);
    // Whether another program stored `number` in a file book as a blob of its text or as
    // the plain number `value`.
    std::optional<bool> isWrittenByAnotherProgram(const QString &number, qint64 value);
    // The rowid of `receipt` just inserted, and how many other receipts and history rows
    // carry its number in any padding.
    std::optional<std::pair<qint64, qint64>> rowAndOtherUses(const Receipt &receipt);
    bool recordHistory(HistoryAction action, const Receipt &receipt, const QJsonObject &extra = {});
    void tell(BookChange::Kind kind, const QStringList &ids, const QList<qint64> &rows,
              bool elsewhere = false);
    std::optional<QList<Receipt>> readRowsNow(const QList<qint64> &rows);

    SQLiteHelper *m_connection;
    std::optional<bool> m_historyKeepsDesk;
    // A new receipt whose save may or may not have been committed (its answer was lost).
    std::optional<Receipt> m_unconfirmed;
    // What is known of the book this one was last used on, forgotten when the book is
    // another or replaced: the counter as this desk last found it on a server (its texts as
    // stored, which the one-statement issue expects to find there, and their meaning), which
    // of those statements the book has, and the tables and indexes found there (a book never
    // loses them: they are asked once, not before each list's read).
    struct SeenCounter
    {
        QString numLong;
        QString currNum;
        ReceiptNoSetting setting;
    };
    struct BookFacts
    {
        QString book;
        std::optional<SeenCounter> counter;
        bool issues = true;
        bool updates = true;
        bool voids = true;
        bool keepsVoids = false;
        bool seriesIssues = true;
        QSet<QString> indexes;
        std::optional<QDate> closedThrough;
        std::optional<QHash<QString, QString>> spoiledForms;
    };
    BookFacts &bookFacts();
    BookFacts m_bookFacts;
    // While changed() is told: the rows its listeners have read, each set read once.
    bool m_telling = false;
    QList<std::pair<QList<qint64>, QList<Receipt>>> m_toldReads;
};
