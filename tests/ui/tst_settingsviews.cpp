// SPDX-License-Identifier: GPL-3.0-or-later
#include "companystore.h"
#include "lookupstores.h"
#include "receiptnostore.h"
#include "settingsscreens.h"
#include "uitesthelpers.h" // typeText, the test environment, toasts and message boxes

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLabel>
#include <QSignalSpy>
#include <QTableView>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

using StoreGetter = LookupStoreBase &(*)();

static QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

template<typename Store>
void lookupRow(const char *name, NavigationItem item, const QString &label)
{
    QTest::newRow(name) << item
                        << StoreGetter([]() -> LookupStoreBase & { return Store::shared(); })
                        << label;
}

class tst_SettingsViews : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_environment = std::make_unique<TestEnvironment>();
        m_environment->createDatabase();
        MessageBox::setTestAnswer(true);
    }
    void cleanup()
    {
        // The screens hold the shared stores, so they go before the stores are reset.
        m_modelTester.reset();
        m_window.reset();
        m_environment.reset();
        MessageBox::setTestAnswer(std::nullopt);
    }

    void lookupEntries_data();
    void lookupEntries();
    void lookupSortKeepsIndexWithRow_data();
    void lookupSortKeepsIndexWithRow();
    void failedStoreOperationShowsSaveFailed_data();
    void failedStoreOperationShowsSaveFailed();
    void companyValidatesThenSaves_data();
    void companyValidatesThenSaves();
    void receiptNoFields_data();
    void receiptNoFields();

private:
    void openScreen(NavigationItem item)
    {
        m_modelTester.reset();
        m_window = std::make_unique<QWidget>();
        m_window->resize(640, 480);
        m_screen = createSettingsScreen(item, m_window.get());
        (new QVBoxLayout(m_window.get()))->addWidget(m_screen);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        if (QTableView *view = table())
            m_modelTester = std::make_unique<QAbstractItemModelTester>(
                view->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }
    QLineEdit *lineEdit(const QString &name) { return m_screen->findChild<QLineEdit *>(name); }
    QLineEdit *field() { return lineEdit(u"contentLineEdit"_s); }
    QPushButton *button(const QString &name) { return m_screen->findChild<QPushButton *>(name); }
    Toast *toast(const QString &name) { return m_screen->findChild<Toast *>(name); }
    QTableView *table() { return m_screen->findChild<QTableView *>(u"lookupTableView"_s); }
    // "序号 value" per row
    QStringList shownRows()
    {
        QStringList rows;
        const QAbstractItemModel *model = table()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            rows.append(model->index(row, 0).data().toString() + u' '
                        + model->index(row, 1).data().toString());
        return rows;
    }
    void selectRows(const QStringList &values)
    {
        QItemSelection selection;
        const QAbstractItemModel *model = table()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (values.contains(model->index(row, 1).data().toString()))
                selection.select(model->index(row, 0), model->index(row, 1));
        }
        table()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    void addEntries(const QStringList &values)
    {
        for (const QString &value : values) {
            typeText(field(), value);
            button(u"addButton"_s)->click();
        }
    }
    void insertPayers(const QStringList &values)
    {
        for (const QString &value : values)
            QVERIFY(m_environment->execRaw(
                u"insert into tb_payer values ('%1', '%2')"_s.arg(newId(), value)));
    }

    std::unique_ptr<TestEnvironment> m_environment;
    std::unique_ptr<QWidget> m_window;
    QWidget *m_screen = nullptr;
    std::unique_ptr<QAbstractItemModelTester> m_modelTester;
};

void tst_SettingsViews::lookupEntries_data()
{
    QTest::addColumn<NavigationItem>("item");
    QTest::addColumn<StoreGetter>("store");
    QTest::addColumn<QString>("label"); // the row name names the table, tb_<name>

    lookupRow<PayerStore>("payer", NavigationItem::settings_payer, u"交款单位"_s);
    lookupRow<Reason1Store>("reason1", NavigationItem::settings_reason1, u"收款事由"_s);
    lookupRow<Reason2Store>("reason2", NavigationItem::settings_reason2, u"其它说明"_s);
    lookupRow<RemarkStore>("remark", NavigationItem::settings_remark, u"备注信息"_s);
    lookupRow<PaytypeStore>("paytype", NavigationItem::settings_paytype, u"收款方式"_s);
    lookupRow<AccountStore>("account", NavigationItem::settings_account, u"系统用户"_s);
}

// Add, refuse, select, rename and delete on each list screen.
void tst_SettingsViews::lookupEntries()
{
    QFETCH(NavigationItem, item);
    QFETCH(StoreGetter, store);
    QFETCH(QString, label);
    const QString tableName = u"tb_"_s + QString::fromLatin1(QTest::currentDataTag());
    const QString column = item == NavigationItem::settings_account ? u"userName"_s : u"content"_s;

    openScreen(item);
    Toast *error = toast(u"errorToast"_s);
    const auto refused = [&](const QString &action, const QString &message) {
        button(action)->click();
        const bool shown = error->isShown() && error->text() == message;
        error->close();
        return shown;
    };
    const auto count = [&] {
        const qsizetype items = store().items().size();
        return m_environment->countRaw(u"select count(*) from "_s + tableName) == items ? items
                                                                                        : -1;
    };
    const qsizetype before = count();
    QVERIFY(refused(u"addButton"_s, u"必填："_s + label));
    QCOMPARE(count(), before);

    // The entry form's combo boxes show the store's items, so they change at once.
    const QString value = u"王's 店 \"'); drop table tb_payer; --"_s;
    QSignalSpy itemsChanged(&store(), &LookupStoreBase::itemsChanged);
    addEntries({value, u"甲"_s, u"乙"_s, u"丙"_s, u"王"_s}); // 王 begins the first: not the same
    QVERIFY(!error->isShown() && !itemsChanged.isEmpty() && store().items().contains(value));
    QCOMPARE(count(), before + 5);
    QCOMPARE(field()->text(), QString());
    const QString id
        = m_environment->queryRaw(u"select id from %1 where %2 = '甲'"_s.arg(tableName, column));
    // A new id: an upper-case UUID without braces.
    QVERIFY2(id.size() == 36 && id == id.toUpper() && !QUuid::fromString(id).isNull(),
             qPrintable(id));
    typeText(field(), value);
    QVERIFY(refused(u"addButton"_s, u"已存在: "_s + value));
    QCOMPARE(field()->text(), value);
    QCOMPARE(count(), before + 5);

    // Selecting fills the field and brings the buttons; a rename may not empty the value
    // but may repeat another one. The row stays highlighted, the buttons go.
    QVERIFY(button(u"editButton"_s)->isHidden());
    selectRows({u"丙"_s});
    QCOMPARE(field()->text(), u"丙"_s);
    QVERIFY(!button(u"editButton"_s)->isHidden() && !button(u"deleteButton"_s)->isHidden());
    typeText(field(), QString());
    QVERIFY(refused(u"editButton"_s, u"必填："_s + label));
    typeText(field(), u"乙"_s);
    button(u"editButton"_s)->click();
    QVERIFY(!error->isShown());
    QCOMPARE(store().items().count(u"乙"_s), 2);
    QCOMPARE(field()->text(), QString());
    QVERIFY(button(u"editButton"_s)->isHidden() && button(u"deleteButton"_s)->isHidden());
    QCOMPARE(table()->selectionModel()->selectedRows().size(), 1);

    // Deleting asks first and takes the whole selection; cancelling deletes nothing.
    selectRows({value, u"甲"_s, u"王"_s});
    for (const bool confirm : {false, true}) {
        MessageBox::setTestAnswer(confirm);
        button(u"deleteButton"_s)->click();
        QCOMPARE(MessageBox::lastText(), u"永久删除？"_s);
        QCOMPARE(count(), before + (confirm ? 2 : 5));
        QCOMPARE(field()->text().isEmpty(), confirm);
        QCOMPARE(button(u"deleteButton"_s)->isHidden(), confirm);
    }
    QCOMPARE(store().items().count(u"乙"_s), 2);
}

void tst_SettingsViews::lookupSortKeepsIndexWithRow_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<Qt::SortOrder>("order");
    QTest::addColumn<QStringList>("rows");

    // Chinese order: Han by pinyin before Latin, digit runs by value, letters without case.
    QTest::newRow("value ascending")
        << 1 << Qt::AscendingOrder
        << QStringList({u"5 甲"_s, u"4 乙"_s, u"3 item2"_s, u"1 Item3"_s, u"2 item10"_s});
    QTest::newRow("序号 descending")
        << 0 << Qt::DescendingOrder
        << QStringList({u"5 甲"_s, u"4 乙"_s, u"3 item2"_s, u"2 item10"_s, u"1 Item3"_s});
}

void tst_SettingsViews::lookupSortKeepsIndexWithRow()
{
    QFETCH(int, column);
    QFETCH(Qt::SortOrder, order);
    QFETCH(QStringList, rows);

    insertPayers({u"item10"_s, u"item2"_s, u"Item3"_s, u"甲"_s, u"乙"_s});
    openScreen(NavigationItem::settings_payer);
    // Loaded in the database's byte order; no sorting until a header is clicked.
    const QStringList loadOrder = {u"1 Item3"_s, u"2 item10"_s, u"3 item2"_s, u"4 乙"_s, u"5 甲"_s};
    QCOMPARE(shownRows(), loadOrder);
    const QStringList items = PayerStore::shared().items();
    selectRows({u"item2"_s});

    QHeaderView *header = table()->horizontalHeader();
    header->setSortIndicator(
        column, order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder);
    header->setSortIndicator(column, order);
    QCOMPARE(shownRows(), rows);
    QCOMPARE(PayerStore::shared().datas().first().content, rows.first().section(u' ', 1));
    QCOMPARE(PayerStore::shared().items(), items);
    // A sort is not a new selection: the same row stays highlighted and in the field.
    QCOMPARE(table()->selectionModel()->selectedRows().value(0).data().toString(), u"3"_s);
    QCOMPARE(field()->text(), u"item2"_s);

    // A change reloads the store in load order.
    typeText(field(), u"item2b"_s);
    button(u"editButton"_s)->click();
    QCOMPARE(shownRows().first(), loadOrder.first());
}

void tst_SettingsViews::failedStoreOperationShowsSaveFailed_data()
{
    QTest::addColumn<NavigationItem>("item");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("table"); // dropped

    using enum NavigationItem;
    QTest::newRow("lookup add") << settings_payer << u"add"_s << u"tb_payer"_s;
    QTest::newRow("lookup rename") << settings_payer << u"edit"_s << u"tb_payer"_s;
    QTest::newRow("lookup delete") << settings_payer << u"delete"_s << u"tb_payer"_s;
    QTest::newRow("header save") << settings_company << u"save"_s << u"tb_company"_s;
    QTest::newRow("number save") << settings_receiptNo << u"save"_s << u"tb_receiptNo"_s;
}

void tst_SettingsViews::failedStoreOperationShowsSaveFailed()
{
    QFETCH(NavigationItem, item);
    QFETCH(QString, action);
    QFETCH(QString, table);

    openScreen(item);
    const bool lookup = item == NavigationItem::settings_payer;
    const QString field = lookup                   ? u"contentLineEdit"_s
        : item == NavigationItem::settings_company ? u"titleLineEdit"_s
                                                   : u"currNumLineEdit"_s;
    if (lookup) {
        addEntries({u"甲"_s});
        selectRows({u"甲"_s});
        typeText(lineEdit(field), u"乙"_s);
    }
    const QString typed = lineEdit(field)->text();
    QVERIFY(m_environment->execRaw(u"drop table "_s + table));

    button(action + u"Button"_s)->click();
    QVERIFY(toast(u"errorToast"_s)->isShown() && toast(u"errorToast"_s)->text() == u"保存失败"_s);
    QCOMPARE(lineEdit(field)->text(), typed);
    if (lookup)
        QCOMPARE(shownRows(), QStringList({u"1 甲"_s}));
    else
        QVERIFY(!toast(u"successToast"_s)->isShown());
}

void tst_SettingsViews::companyValidatesThenSaves_data()
{
    QTest::addColumn<QStringList>("typed"); // title, label, remark
    QTest::addColumn<QString>("message");

    QTest::newRow("both empty") << QStringList({QString(), QString(), u"备注"_s})
                                << u"必填：收据抬头"_s;
    QTest::newRow("label empty") << QStringList({u"收据"_s, QString(), u"备注"_s})
                                 << u"必填：右侧标签"_s;
    QTest::newRow("remark empty") << QStringList({u"收据"_s, u"第二联"_s, QString()})
                                  << u"修改成功"_s;
}

void tst_SettingsViews::companyValidatesThenSaves()
{
    QFETCH(QStringList, typed);
    QFETCH(QString, message);

    openScreen(NavigationItem::settings_company);
    const QString storedHeader = u"收款收据|交款人收执|"_s;
    const QString headerSql = u"select title || '|' || label || '|' || remark from tb_company"_s;
    QCOMPARE(m_environment->queryRaw(headerSql), storedHeader);
    // Each keystroke goes to the store, which notifies back; the echo must not move the
    // cursor to the end.
    QLineEdit *title = lineEdit(u"titleLineEdit"_s);
    title->setFocus();
    title->setCursorPosition(2);
    QTest::keyClicks(title, u"ab"_s);
    QCOMPARE(CompanyStore::shared().company().title, u"收款ab收据"_s);
    typeText(lineEdit(u"titleLineEdit"_s), typed.at(0));
    typeText(lineEdit(u"labelLineEdit"_s), typed.at(1));
    typeText(lineEdit(u"remarkLineEdit"_s), typed.at(2));
    // The fields edit the shared header at once; the print layout reads it from there.
    QCOMPARE(CompanyStore::shared().company().label, typed.at(1));
    button(u"saveButton"_s)->click();

    const bool saved = message == u"修改成功"_s;
    Toast *shown = toast(saved ? u"successToast"_s : u"errorToast"_s);
    QVERIFY(shown->isShown());
    QCOMPARE(shown->text(), message);
    QVERIFY(!toast(saved ? u"errorToast"_s : u"successToast"_s)->isShown());
    QCOMPARE(m_environment->queryRaw(headerSql), saved ? typed.join(u'|') : storedHeader);
}

void tst_SettingsViews::receiptNoFields_data()
{
    QTest::addColumn<int>("currNum"); // before; the length is 7
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("preview"); // its digits give the number and the length
    QTest::addColumn<QString>("refused"); // the message of a value out of range

    const QString number = u"currNumLineEdit"_s;
    const QString length = u"numLongLineEdit"_s;
    const QString none;
    QTest::newRow("0000005, 0000006 taken") << 1 << number << u"5"_s << u"No.0000007"_s << none;
    QTest::newRow("length 3 with 12") << 12 << length << u"3"_s << u"No.012"_s << none;
    // nextReceiptNo lengthens by one digit per run; the runs repeat until nothing changes.
    QTest::newRow("length 1 with 123, raised") << 123 << length << u"1"_s << u"No.123"_s << none;
    QTest::newRow("letters refused") << 1 << number << u"1a2"_s << u"No.0000012"_s << none;
    QTest::newRow("decimal point refused") << 1 << number << u"3.5"_s << u"No.0000035"_s << none;
    QTest::newRow("largest 64-bit")
        << 1 << number << u"9223372036854775807"_s << u"No.9223372036854775807"_s << none;
    QTest::newRow("no typing past it")
        << 1 << number << u"9223372036854775808"_s << u"No.922337203685477580"_s << none;
    QTest::newRow("empty keeps the stored") << 1 << number << u"-"_s << u"No.0000001"_s << none;
    // Out of range: said, and the stored value stays (the number would run over the title).
    const QString lengthRange = u"单号长度必须在 1 到 18 之间"_s;
    QTest::newRow("length 19") << 1 << length << u"19"_s << u"No.0000001"_s << lengthRange;
    QTest::newRow("length 0") << 1 << length << u"0"_s << u"No.0000001"_s << lengthRange;
    QTest::newRow("number 0") << 1 << number << u"0"_s << u"No.0000001"_s
                              << u"当前单号必须大于 0"_s;
}

void tst_SettingsViews::receiptNoFields()
{
    QFETCH(int, currNum);
    QFETCH(QString, field);
    QFETCH(QString, keys);
    QFETCH(QString, preview);
    QFETCH(QString, refused);

    for (const QString &number : {u"0000005"_s, u"0000006"_s})
        QVERIFY(m_environment->storeReceipt(newId(), number, u"2024-01-01 10:00:00"_s));
    QVERIFY(m_environment->execRaw(
        u"update tb_receiptNo set numLong = 7, currNum = %1"_s.arg(currNum)));
    openScreen(NavigationItem::settings_receiptNo);

    typeText(lineEdit(field), QString());
    QTest::keyClicks(lineEdit(field), keys);
    QTest::keyClick(lineEdit(field), Qt::Key_Return);
    const QString stored = u"%1 %2"_s.arg(preview.mid(3).toLongLong()).arg(preview.size() - 3);
    QCOMPARE(lineEdit(u"currNumLineEdit"_s)->text() + u' ' + lineEdit(u"numLongLineEdit"_s)->text(),
             stored);
    // Stored at once (the fields show the store's values).
    QCOMPARE(m_environment->queryRaw(u"select currNum || ' ' || numLong from tb_receiptNo"_s),
             stored);
    const QLabel *label = m_screen->findChild<QLabel *>(u"previewLabel"_s);
    QCOMPARE(QTextDocumentFragment::fromHtml(label->text()).toPlainText(), preview);
    QCOMPARE(toast(u"errorToast"_s)->isShown(), !refused.isEmpty());
    if (!refused.isEmpty()) {
        QCOMPARE(toast(u"errorToast"_s)->text(), refused);
        return;
    }

    button(u"saveButton"_s)->click();
    QCOMPARE(toast(u"successToast"_s)->text(), u"修改成功"_s);
}

QTEST_MAIN(tst_SettingsViews)
#include "tst_settingsviews.moc"
