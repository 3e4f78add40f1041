#include "appstore.h"
#include "companystore.h"
#include "lookupstores.h"
#include "messagebox.h"
#include "receiptnostore.h"
#include "settingsscreens.h"
#include "testsupport.h"
#include "toast.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>
#include <QTextDocumentFragment>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

using namespace Qt::StringLiterals;

using StoreGetter = LookupStoreBase &(*)();

// Replaces the field's text as typing does (textEdited fires, the validator judges it),
// also for Chinese text, which QTest::keyClicks cannot send.
static void typeText(QLineEdit *lineEdit, const QString &text)
{
    lineEdit->setFocus();
    lineEdit->selectAll();
    QKeyEvent press(QEvent::KeyPress, text.isEmpty() ? Qt::Key_Backspace : Qt::Key_unknown,
                    Qt::NoModifier, text);
    QCoreApplication::sendEvent(lineEdit, &press);
}

template<typename Store>
LookupStoreBase &storeOf()
{
    return Store::shared();
}

static QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

class tst_SettingsViews : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void lookupAddChecksEmptyAndDuplicate_data();
    void lookupAddChecksEmptyAndDuplicate();
    void lookupSelectAndRenameToExistingValue();
    void lookupDeleteWholeSelection_data();
    void lookupDeleteWholeSelection();
    void lookupSortKeepsIndexWithRow_data();
    void lookupSortKeepsIndexWithRow();
    void failedStoreOperationShowsSaveFailed_data();
    void failedStoreOperationShowsSaveFailed();
    void companyValidatesThenSaves_data();
    void companyValidatesThenSaves();
    void companyTypingKeepsCursor();
    void receiptNoFieldActions_data();
    void receiptNoFieldActions();
    void receiptNoFieldsTakeOnlyWholeNumbers_data();
    void receiptNoFieldsTakeOnlyWholeNumbers();
    void renderScreenshots();

private:
    void openScreen(NavigationItem item);
    QLineEdit *lineEdit(const QString &name) { return m_screen->findChild<QLineEdit *>(name); }
    QPushButton *button(const QString &name) { return m_screen->findChild<QPushButton *>(name); }
    Toast *toast(const QString &name) { return m_screen->findChild<Toast *>(name); }
    QTableView *table() { return m_screen->findChild<QTableView *>(u"lookupTableView"_s); }
    QStringList shownRows(); // "序号 value" per row
    void selectRows(const QStringList &values);
    void addEntries(const QStringList &values);

    std::unique_ptr<TestEnvironment> m_environment;
    std::unique_ptr<QWidget> m_window;
    QWidget *m_screen = nullptr;
    std::unique_ptr<QAbstractItemModelTester> m_modelTester;
};

void tst_SettingsViews::init()
{
    m_environment = std::make_unique<TestEnvironment>();
    m_environment->createDatabase();
    MessageBox::setTestAnswer(true);
}

void tst_SettingsViews::cleanup()
{
    // The screens hold the shared stores, so they go before the stores are reset.
    m_modelTester.reset();
    m_window.reset();
    m_environment.reset();
    MessageBox::setTestAnswer(std::nullopt);
}

void tst_SettingsViews::openScreen(NavigationItem item)
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

QStringList tst_SettingsViews::shownRows()
{
    QStringList rows;
    const QAbstractItemModel *model = table()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        rows.append(model->index(row, 0).data().toString() + u' '
                    + model->index(row, 1).data().toString());
    return rows;
}

void tst_SettingsViews::selectRows(const QStringList &values)
{
    QItemSelection selection;
    const QAbstractItemModel *model = table()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (values.contains(model->index(row, 1).data().toString()))
            selection.select(model->index(row, 0), model->index(row, 1));
    }
    table()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void tst_SettingsViews::addEntries(const QStringList &values)
{
    for (const QString &value : values) {
        typeText(lineEdit(u"contentLineEdit"_s), value);
        button(u"addButton"_s)->click();
    }
}

void tst_SettingsViews::lookupAddChecksEmptyAndDuplicate_data()
{
    QTest::addColumn<NavigationItem>("item");
    QTest::addColumn<QString>("screen");
    QTest::addColumn<StoreGetter>("store");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("valueWhere");

    const auto row = [](const char *name, NavigationItem item, StoreGetter store,
                        const QString &label, const QString &valueWhere) {
        QTest::newRow(name) << item << QString::fromLatin1(name) << store << label << valueWhere;
    };
    row("PayerView", NavigationItem::settings_payer, &storeOf<PayerStore>, u"交款单位"_s,
        u"tb_payer where content"_s);
    row("Reason1View", NavigationItem::settings_reason1, &storeOf<Reason1Store>, u"收款事由"_s,
        u"tb_reason1 where content"_s);
    row("Reason2View", NavigationItem::settings_reason2, &storeOf<Reason2Store>, u"其它说明"_s,
        u"tb_reason2 where content"_s);
    row("RemarkView", NavigationItem::settings_remark, &storeOf<RemarkStore>, u"备注信息"_s,
        u"tb_remark where content"_s);
    row("PaytypeView", NavigationItem::settings_paytype, &storeOf<PaytypeStore>, u"收款方式"_s,
        u"tb_paytype where content"_s);
    row("AccountView", NavigationItem::settings_account, &storeOf<AccountStore>, u"系统用户"_s,
        u"tb_account where userName"_s);
}

void tst_SettingsViews::lookupAddChecksEmptyAndDuplicate()
{
    QFETCH(NavigationItem, item);
    QFETCH(QString, screen);
    QFETCH(StoreGetter, store);
    QFETCH(QString, label);
    QFETCH(QString, valueWhere);

    openScreen(item);
    QCOMPARE(QString::fromLatin1(m_screen->metaObject()->className()), screen);
    QCOMPARE(table()->model()->headerData(1, Qt::Horizontal).toString(), label);
    QLineEdit *field = lineEdit(u"contentLineEdit"_s);
    Toast *error = toast(u"errorToast"_s);
    const int before = int(store().items().size());

    button(u"addButton"_s)->click();
    QCOMPARE(error->text(), u"必填："_s + label);
    QCOMPARE(store().items().size(), before);
    error->close();

    // The entry form's combo boxes show the store's items, so they must change at once.
    const QString value = u"王's 店 \"'); drop table tb_payer; --"_s;
    QSignalSpy itemsChanged(&store(), &LookupStoreBase::itemsChanged);
    addEntries({value});
    QVERIFY(!error->isShown());
    QVERIFY(!itemsChanged.isEmpty());
    QVERIFY(store().items().contains(value));
    QCOMPARE(field->text(), QString());
    const QString id = m_environment->queryRaw(u"select id from "_s + valueWhere
                                               + u" = '王''s 店 \"''); drop table tb_payer; --'"_s);
    QVERIFY2(
        QRegularExpression(u"^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"_s).match(id).hasMatch(),
        qPrintable(id));

    addEntries({value});
    QCOMPARE(error->text(), u"已存在: "_s + value);
    QCOMPARE(field->text(), value);
    QCOMPARE(store().items().size(), before + 1);
}

void tst_SettingsViews::lookupSelectAndRenameToExistingValue()
{
    openScreen(NavigationItem::settings_payer);
    addEntries({u"甲公司"_s, u"乙公司"_s});
    QLineEdit *field = lineEdit(u"contentLineEdit"_s);
    QVERIFY(button(u"editButton"_s)->isHidden());

    selectRows({u"乙公司"_s});
    QCOMPARE(field->text(), u"乙公司"_s);
    QVERIFY(!button(u"editButton"_s)->isHidden());
    QVERIFY(!button(u"deleteButton"_s)->isHidden());

    typeText(field, QString());
    button(u"editButton"_s)->click();
    QCOMPARE(toast(u"errorToast"_s)->text(), u"必填：交款单位"_s);
    toast(u"errorToast"_s)->close();

    typeText(field, u"甲公司"_s);
    button(u"editButton"_s)->click();
    QVERIFY(!toast(u"errorToast"_s)->isShown());
    QCOMPARE(PayerStore::shared().items(), QStringList({u"甲公司"_s, u"甲公司"_s}));
    QCOMPARE(field->text(), QString());
    QVERIFY(button(u"editButton"_s)->isHidden());
    QVERIFY(button(u"deleteButton"_s)->isHidden());
    // The row stays highlighted; only a new selection brings the buttons back.
    QCOMPARE(table()->selectionModel()->selectedRows().size(), 1);
}

void tst_SettingsViews::lookupDeleteWholeSelection_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QStringList>("remaining");
    QTest::addColumn<QString>("fieldText");

    QTest::newRow("删除") << true << QStringList({u"丁"_s}) << QString();
    QTest::newRow("取消") << false << QStringList({u"丁"_s, u"丙"_s, u"乙"_s, u"甲"_s}) << u"丙"_s;
}

void tst_SettingsViews::lookupDeleteWholeSelection()
{
    QFETCH(bool, confirm);
    QFETCH(QStringList, remaining);
    QFETCH(QString, fieldText);

    openScreen(NavigationItem::settings_payer);
    addEntries({u"甲"_s, u"乙"_s, u"丙"_s, u"丁"_s});
    selectRows({u"甲"_s, u"乙"_s, u"丙"_s});
    MessageBox::setTestAnswer(confirm);
    button(u"deleteButton"_s)->click();
    QCOMPARE(MessageBox::lastText(), u"永久删除？"_s);
    QCOMPARE(PayerStore::shared().items(), remaining);
    QCOMPARE(m_environment->countRaw(u"select count(*) from tb_payer"_s), remaining.size());
    QCOMPARE(lineEdit(u"contentLineEdit"_s)->text(), fieldText);
    QCOMPARE(button(u"deleteButton"_s)->isHidden(), confirm);
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
    QTest::newRow("value descending")
        << 1 << Qt::DescendingOrder
        << QStringList({u"2 item10"_s, u"1 Item3"_s, u"3 item2"_s, u"4 乙"_s, u"5 甲"_s});
    QTest::newRow("序号 descending")
        << 0 << Qt::DescendingOrder
        << QStringList({u"5 甲"_s, u"4 乙"_s, u"3 item2"_s, u"2 item10"_s, u"1 Item3"_s});
}

void tst_SettingsViews::lookupSortKeepsIndexWithRow()
{
    QFETCH(int, column);
    QFETCH(Qt::SortOrder, order);
    QFETCH(QStringList, rows);

    for (const QString &value : {u"item10"_s, u"item2"_s, u"Item3"_s, u"甲"_s, u"乙"_s})
        m_environment->execRaw(u"insert into tb_payer values ('%1', '%2')"_s.arg(newId(), value));
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
    QCOMPARE(lineEdit(u"contentLineEdit"_s)->text(), u"item2"_s);

    // A change reloads the store in load order.
    typeText(lineEdit(u"contentLineEdit"_s), u"item2b"_s);
    button(u"editButton"_s)->click();
    QCOMPARE(shownRows().first(), loadOrder.first());
}

void tst_SettingsViews::failedStoreOperationShowsSaveFailed_data()
{
    QTest::addColumn<NavigationItem>("item");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("table");

    QTest::newRow("lookup add") << NavigationItem::settings_payer << u"addButton"_s
                                << u"contentLineEdit"_s << u"tb_payer"_s;
    QTest::newRow("lookup rename") << NavigationItem::settings_payer << u"editButton"_s
                                   << u"contentLineEdit"_s << u"tb_payer"_s;
    QTest::newRow("lookup delete") << NavigationItem::settings_payer << u"deleteButton"_s
                                   << u"contentLineEdit"_s << u"tb_payer"_s;
    QTest::newRow("header save") << NavigationItem::settings_company << u"saveButton"_s
                                 << u"titleLineEdit"_s << u"tb_company"_s;
    QTest::newRow("number save") << NavigationItem::settings_receiptNo << u"saveButton"_s
                                 << u"currNumLineEdit"_s << u"tb_receiptNo"_s;
}

void tst_SettingsViews::failedStoreOperationShowsSaveFailed()
{
    QFETCH(NavigationItem, item);
    QFETCH(QString, action);
    QFETCH(QString, field);
    QFETCH(QString, table);

    openScreen(item);
    const bool lookup = item == NavigationItem::settings_payer;
    if (lookup) {
        addEntries({u"甲"_s});
        selectRows({u"甲"_s});
        typeText(lineEdit(field), u"乙"_s);
    }
    const QString typed = lineEdit(field)->text();
    QVERIFY(m_environment->execRaw(u"drop table "_s + table));

    button(action)->click();
    QVERIFY(toast(u"errorToast"_s)->isShown());
    QCOMPARE(toast(u"errorToast"_s)->text(), u"保存失败"_s);
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
    QTest::newRow("quotes") << QStringList({u"王's \"收据\""_s, u"'); --"_s, u"🧾"_s})
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

void tst_SettingsViews::companyTypingKeepsCursor()
{
    openScreen(NavigationItem::settings_company);
    QLineEdit *title = lineEdit(u"titleLineEdit"_s);
    // Each keystroke goes to the store, which notifies back; the echo must not move the
    // cursor to the end.
    title->setFocus();
    title->setCursorPosition(2);
    QTest::keyClicks(title, u"ab"_s);
    QCOMPARE(title->text(), u"收款ab收据"_s);
    QCOMPARE(CompanyStore::shared().company().title, u"收款ab收据"_s);
}

void tst_SettingsViews::receiptNoFieldActions_data()
{
    QTest::addColumn<QStringList>("taken");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored"); // currNum numLong
    QTest::addColumn<QString>("preview");

    QTest::newRow("taken numbers skipped")
        << QStringList({u"0000005"_s, u"0000006"_s}) << u"numLong = 7, currNum = 1"_s
        << u"currNumLineEdit"_s << u"5"_s << u"7 7"_s << u"No.0000007"_s;
    QTest::newRow("length 3 with 12") << QStringList() << u"numLong = 7, currNum = 12"_s
                                      << u"numLongLineEdit"_s << u"3"_s << u"12 3"_s << u"No.012"_s;
    // nextReceiptNo lengthens by one digit per run; the runs repeat until nothing changes.
    QTest::newRow("length 1 with 123")
        << QStringList() << u"numLong = 7, currNum = 123"_s << u"numLongLineEdit"_s << u"1"_s
        << u"123 3"_s << u"No.123"_s;
    QTest::newRow("negative counter") << QStringList() << u"numLong = 2, currNum = 4"_s
                                      << u"currNumLineEdit"_s << u"-5"_s << u"-5 2"_s << u"No.-5"_s;
}

void tst_SettingsViews::receiptNoFieldActions()
{
    QFETCH(QStringList, taken);
    QFETCH(QString, setting);
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    QFETCH(QString, preview);

    for (const QString &number : taken)
        QVERIFY(
            m_environment->execRaw(receiptInsertSql(newId(), number, u"2024-01-01 10:00:00"_s)));
    QVERIFY(m_environment->execRaw(u"update tb_receiptNo set "_s + setting));
    openScreen(NavigationItem::settings_receiptNo);

    typeText(lineEdit(field), typed);
    QTest::keyClick(lineEdit(field), Qt::Key_Return);
    QCOMPARE(lineEdit(u"currNumLineEdit"_s)->text() + u' ' + lineEdit(u"numLongLineEdit"_s)->text(),
             stored);
    QCOMPARE(
        QTextDocumentFragment::fromHtml(m_screen->findChild<QLabel *>(u"previewLabel"_s)->text())
            .toPlainText(),
        preview);
    QCOMPARE(m_environment->queryRaw(u"select currNum || ' ' || numLong from tb_receiptNo"_s),
             stored);

    button(u"saveButton"_s)->click();
    QCOMPARE(toast(u"successToast"_s)->text(), u"修改成功"_s);
}

void tst_SettingsViews::receiptNoFieldsTakeOnlyWholeNumbers_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");

    QTest::newRow("letters") << u"1a2"_s << u"12"_s;
    QTest::newRow("decimal point") << u"3.5"_s << u"35"_s;
    QTest::newRow("largest 64-bit") << u"9223372036854775807"_s << u"9223372036854775807"_s;
    QTest::newRow("one past it") << u"9223372036854775808"_s << u"922337203685477580"_s;
    QTest::newRow("empty keeps stored") << u"-"_s << u"1"_s;
}

void tst_SettingsViews::receiptNoFieldsTakeOnlyWholeNumbers()
{
    QFETCH(QString, keys);
    QFETCH(QString, shown);

    openScreen(NavigationItem::settings_receiptNo);
    QLineEdit *currNum = lineEdit(u"currNumLineEdit"_s);
    typeText(currNum, QString());
    QTest::keyClicks(currNum, keys);
    QTest::keyClick(currNum, Qt::Key_Return);
    QCOMPARE(currNum->text(), shown);
    QCOMPARE(QString::number(ReceiptNoStore::shared().receiptNoSetting().currNum), shown);
}

// Not a check: renders the README pictures when QUENTA_SCREENSHOT_DIR names a folder.
void tst_SettingsViews::renderScreenshots()
{
    const QString folder = qEnvironmentVariable("QUENTA_SCREENSHOT_DIR");
    if (folder.isEmpty())
        QSKIP("QUENTA_SCREENSHOT_DIR is not set");
    QApplication::setFont(QFont(u"Noto Sans CJK SC"_s, 10));
    for (const QString &payer : {u"北京华信科技有限公司"_s, u"上海明达贸易有限公司"_s, u"张三"_s,
                                 u"李四餐饮店"_s, u"广州市第一中学"_s})
        m_environment->execRaw(u"insert into tb_payer values ('%1', '%2')"_s.arg(newId(), payer));
    QVERIFY(m_environment->execRaw(u"update tb_receiptNo set currNum = 128"_s));

    openScreen(NavigationItem::settings_payer);
    m_window->resize(640, 400);
    selectRows({u"李四餐饮店"_s});
    QVERIFY(m_screen->grab().save(folder + u"/screenshot-lookup.png"_s));
    openScreen(NavigationItem::settings_receiptNo);
    m_window->resize(640, 260);
    QVERIFY(m_screen->grab().save(folder + u"/screenshot-receiptno.png"_s));
}

QTEST_MAIN(tst_SettingsViews)
#include "tst_settingsviews.moc"
