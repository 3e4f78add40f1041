// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "bookcare.h"
#include "bookproof.h"
#include "clock.h"
#include "receiptbook.h"
#include "receipthistory.h"
#include "receiptnostore.h"
#include "sqlitehelper.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QtTest>

using namespace Qt::StringLiterals;

// The history of every change and the voids: each change with exactly one history row,
// in one transaction; old books brought up to date, newer ones only read.
class tst_ReceiptHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_env = std::make_unique<TestEnvironment>();
        Clock::pin(QDateTime(QDate(2024, 5, 1), QTime(9, 30)));
        m_env->createDatabase();
    }
    void cleanup()
    {
        m_env.reset();
        Clock::unpin();
    }

    void olderBookIsBroughtUpToDate();
    void newerBookIsOnlyRead();
    void everyChangeWritesOneHistoryRow();
    void failedHistoryWriteUndoesTheChange();
    void deletedReceiptComesBack_data();
    void deletedReceiptComesBack();
    void voidSurvivesDeleteAndRestore();

private:
    QJsonObject detail(int row) const
    {
        const QString sql = u"select detail from tb_history order by id limit 1 offset %1"_s;
        return QJsonDocument::fromJson(m_env->queryRaw(sql.arg(row)).toUtf8()).object();
    }
    QString actions() const
    {
        return m_env->queryRaw(onEngine(u"select group_concat(action, ' ') from "
                                        u"(select action from tb_history order by id)"_s,
                                        u"select string_agg(action, ' ' order by id) "
                                        u"from tb_history"_s));
    }

    std::unique_ptr<TestEnvironment> m_env;
};

void tst_ReceiptHistory::olderBookIsBroughtUpToDate()
{
    // A book made by the version before: no tb_void, no tb_history, version 0.
    QUENTA_SKIP_ON_SERVER("shared books began after these tables");
    QVERIFY(
        m_env->execRaw(u"drop table tb_void; drop table tb_history; pragma user_version = 0;"_s));
    QVERIFY(m_env->storeReceipt(u"OLD"_s, u"0000001"_s, u"2024-04-01 00:00:00"_s));
    const QString before = m_env->queryRaw(u"select group_concat(id || receiptNo || payer || "
                                           u"total) from tb_receipt"_s);
    QVERIFY(SQLiteHelper::shared().checkUsable());
    QCOMPARE(m_env->queryRaw(u"pragma user_version"_s), u"7"_s);
    QCOMPARE(m_env->countRaw(u"select count(*) from sqlite_master where name in "
                             u"('tb_void', 'tb_history', 'idx_history_receiptNoValue', "
                             u"'idx_receipt_receiptNoValue')"_s),
             4);
    QCOMPARE(m_env->queryRaw(u"select group_concat(id || receiptNo || payer || total) from "
                             u"tb_receipt"_s),
             before);
    // Its record chain starts there, the receipt the history never recorded recorded as it
    // is found, and it keeps working: the next receipt saves with its history row, and the
    // book proves itself.
    QVERIFY(!saveNewReceipt(u"甲"_s, 5).isEmpty());
    QCOMPARE(actions(), u"chain chain insert"_s);
    BookProof::Verdict verdict;
    QVERIFY(BookCare::verify({}, &verdict, nullptr));
    QVERIFY2(verdict.whole, qPrintable(verdict.problem));
    QVERIFY(m_env->execRaw(u"update tb_receipt set payer = '乙' where id = 'OLD'"_s));
    QVERIFY(BookCare::verify({}, &verdict, nullptr));
    QCOMPARE(verdict.problem, u"No.0000001 与记录不符：交款单位 甲 → 乙"_s);
}

void tst_ReceiptHistory::newerBookIsOnlyRead()
{
    QVERIFY(m_env->execRaw(
        onEngine(u"pragma user_version = 8"_s, u"update tb_schema set version = 9"_s)));
    SQLiteHelper &helper = SQLiteHelper::shared();
    QVERIFY(helper.checkUsable());
    QVERIFY(helper.schemaReport().isNewer);
    QVERIFY(helper.db().isReadOnly());
    QVERIFY(saveNewReceipt(u"甲"_s, 5).isEmpty());
    QCOMPARE(m_env->receiptCount(), 0);
}

void tst_ReceiptHistory::everyChangeWritesOneHistoryRow()
{
    AppStore &store = AppStore::shared();
    const QString id = saveNewReceipt(u"甲"_s, 680);
    QVERIFY(!id.isEmpty());
    QCOMPARE(detail(0).value(u"payer"_s).toString(), u"甲"_s);
    QCOMPARE(detail(0).value(u"receiptNo"_s).toString(), u"0000001"_s);

    store.setSelectedId(id);
    QVERIFY(store.loadSelected(true));
    Receipt edit = store.receiptEdit();
    edit.total = 860;
    store.setReceiptEdit(edit);
    QVERIFY(store.updateReceipt());
    const HistoryEntry update = ReceiptBook::shared().history().value().first();
    QCOMPARE(update.action, HistoryAction::Update);
    QCOMPARE(ReceiptHistory::changeSummary(update), u"金额 680.00 → 860.00"_s);

    QString error;
    QVERIFY(ReceiptBook::shared().voidReceipts({id}, u"填错金额"_s, &error));
    QCOMPARE(detail(2).value(u"reason"_s).toString(), u"填错金额"_s);
    QCOMPARE(storedReceipt(id)->voidReason, std::optional<QString>(u"填错金额"_s));
    // A voided receipt keeps its place and number, but cannot be changed.
    QString saveError;
    QVERIFY(!store.updateReceipt(&saveError));
    QCOMPARE(saveError, u"已作废的收据不能修改"_s);
    QVERIFY(ReceiptBook::shared().voidReceipts({id}, u"再次"_s)); // already voided: nothing to do
    QVERIFY(!ReceiptBook::shared().voidReceipts({id}, u"  "_s, &error));
    QCOMPARE(error, u"必填：作废原因"_s);
    QVERIFY(ReceiptBook::shared().unvoidReceipts({id}));
    QVERIFY(ReceiptBook::shared().recordPrint(id));

    store.setSelection({id});
    store.deleteSelected();
    QCOMPARE(m_env->receiptCount(), 0);
    // The deleted receipt, whole, before the delete.
    QCOMPARE(detail(5).value(u"total"_s).toString(), u"860.0"_s);
    QCOMPARE(actions(), u"insert update void unvoid print delete"_s);
    QCOMPARE(m_env->countRaw(u"select count(distinct receiptId) from tb_history"_s), 1);
    // Every row names the desk that made it.
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_history where desk = '%1'"_s.arg(
                 ReceiptBook::deskName())),
             6);
}

void tst_ReceiptHistory::failedHistoryWriteUndoesTheChange()
{
    const QString id = saveNewReceipt(u"甲"_s, 5);
    QVERIFY(m_env->execRaw(onEngine(
        u"create trigger refuse before insert on tb_history "
        u"begin select raise(abort, 'refused'); end;"_s,
        u"create function refuse() returns trigger language plpgsql as "
        u"$$ begin raise exception 'refused'; end $$; create trigger refuse before insert "
        u"on tb_history for each row execute function refuse();"_s)));
    AppStore &store = AppStore::shared();
    QString saveError;
    QVERIFY(saveNewReceipt(u"乙"_s, 6, &saveError).isEmpty());
    QVERIFY(saveError.startsWith(u"保存失败"_s));
    store.setSelectedId(id);
    QVERIFY(store.loadSelected(true));
    Receipt edit = store.receiptEdit();
    edit.payer = u"丙"_s;
    store.setReceiptEdit(edit);
    QVERIFY(!store.updateReceipt());
    QVERIFY(!ReceiptBook::shared().voidReceipts({id}, u"作废"_s));
    store.setSelection({id});
    store.deleteSelected();
    // Nothing of it reached the book.
    QCOMPARE(m_env->queryRaw(u"select count(*) || min(payer) from tb_receipt"_s), u"1甲"_s);
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_void"_s), 0);
    QCOMPARE(actions(), u"insert"_s);
    // Nor did the counter move for the refused receipt.
    QCOMPARE(m_env->queryRaw(u"select currNum from tb_receiptNo"_s), u"2"_s);
}

void tst_ReceiptHistory::deletedReceiptComesBack_data()
{
    // The number another receipt was given meanwhile: the same, or one number in another
    // padding, which would print the same.
    QTest::addColumn<QString>("other");
    QTest::newRow("same number") << u"0000001"_s;
    QTest::newRow("without its zeros") << u"1"_s;
    QTest::newRow("with more zeros") << u"00000001"_s;
}

void tst_ReceiptHistory::deletedReceiptComesBack()
{
    QFETCH(QString, other);
    AppStore &store = AppStore::shared();
    const QString id = saveNewReceipt(u"甲"_s, 12.5);
    store.setSelection({id});
    store.deleteSelected();
    const HistoryEntry deletion = ReceiptBook::shared().history(u"0000001"_s).value().first();
    QCOMPARE(deletion.action, HistoryAction::Delete);

    // Its number given to another receipt meanwhile: refused, nothing changes.
    QVERIFY(m_env->storeReceipt(u"OTHER"_s, other, u"2024-05-01 00:00:00"_s));
    QString error;
    QVERIFY(!ReceiptBook::shared().restoreDeleted(deletion, &error));
    QVERIFY2(error.contains(u"0000001"_s), qPrintable(error));
    QVERIFY(m_env->execRaw(u"delete from tb_receipt where id = 'OTHER'"_s));

    QVERIFY(ReceiptBook::shared().restoreDeleted(deletion, &error));
    QCOMPARE(m_env->queryRaw(u"select id || '|' || receiptNo || '|' || payer || '|' || total "
                             u"from tb_receipt"_s),
             id + u"|0000001|甲|12.5"_s);
    QCOMPARE(ReceiptBook::shared().history().value().first().action, HistoryAction::Restore);
    QVERIFY(!ReceiptBook::shared().restoreDeleted(deletion, &error)); // already back
    // Made at 9:30, brought back later: still made at 9:30.
    QCOMPARE(m_env->queryRaw(u"select createDate from tb_receipt"_s), u"2024-05-01 09:30:00"_s);
}

// Deleted while voided, it comes back voided, with the reason and date of its void: brought
// back plain it would count in the totals again.
void tst_ReceiptHistory::voidSurvivesDeleteAndRestore()
{
    AppStore &store = AppStore::shared();
    const QString id = saveNewReceipt(u"甲"_s, 12.5);
    QVERIFY(ReceiptBook::shared().voidReceipts({id}, u"写错金额"_s));
    Clock::pin(QDateTime(QDate(2024, 6, 3), QTime(16, 0)));
    store.setSelection({id});
    QVERIFY(store.deleteSelected());
    QCOMPARE(m_env->countRaw(u"select count(*) from tb_void"_s), 0);
    const HistoryEntry deletion = ReceiptBook::shared().history(u"0000001"_s).value().first();
    QCOMPARE(deletion.detail.value(u"reason"_s).toString(), u"写错金额"_s);

    QString error;
    QVERIFY2(ReceiptBook::shared().restoreDeleted(deletion, &error), qPrintable(error));
    QCOMPARE(storedReceipt(id)->voidReason, std::optional<QString>(u"写错金额"_s));
    QCOMPARE(m_env->queryRaw(u"select voidDate from tb_void"_s), u"2024-05-01 09:30:00"_s);
    const HistoryEntry restore = ReceiptBook::shared().history().value().first();
    QCOMPARE(restore.action, HistoryAction::Restore);
    QCOMPARE(restore.detail.value(u"reason"_s).toString(), u"写错金额"_s);

    // A range of days holds the whole of both its days: 16:00 on the last one too.
    const auto actionsIn = [](QDate from, QDate to) {
        QStringList names;
        const QList<HistoryEntry> entries = ReceiptBook::shared().history({}, from, to).value();
        for (const HistoryEntry &entry : entries)
            names.prepend(ReceiptHistory::actionName(entry.action));
        return names.join(u' ');
    };
    QCOMPARE(actionsIn(QDate(2024, 5, 1), QDate(2024, 5, 1)), u"insert void"_s);
    QCOMPARE(actionsIn(QDate(2024, 5, 2), QDate(2024, 6, 3)), u"delete restore"_s);
    QCOMPARE(actionsIn(QDate(2024, 6, 3), QDate()), u"delete restore"_s);
}

QTEST_GUILESS_MAIN(tst_ReceiptHistory)
#include "tst_receipthistory.moc"
