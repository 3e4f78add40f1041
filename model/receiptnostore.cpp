#include "receiptnostore.h"

#include "appstore.h"
#include "database.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"

#include <limits>

using namespace Qt::StringLiterals;

ReceiptNoStore &ReceiptNoStore::shared()
{
    return SharedInstance<ReceiptNoStore>::get();
}

ReceiptNoStore::ReceiptNoStore()
{
    m_setting = {QUuid::createUuid(), 7, 1};
    loadSetting();
    nextReceiptNo();
}

void ReceiptNoStore::setReceiptNoSetting(const ReceiptNoSetting &setting)
{
    m_setting = setting;
    Q_EMIT receiptNoSettingChanged();
}

QString ReceiptNoStore::receiptNumberText(const ReceiptNoSetting &setting)
{
    const QString digits = QString::number(setting.currNum);
    const qint64 pad = std::min(setting.numLong, maximumNumberLength) - digits.size();
    return pad >= 1 ? QString(pad, u'0') + digits : digits;
}

void ReceiptNoStore::loadSetting()
{
    std::unique_ptr<ResultSet> resultSet
        = SQLiteHelper::shared().query(u"select *\nfrom tb_receiptNo"_s);
    if (!resultSet)
        return;
    const int numLong = resultSet->columnIndexForName(u"numLong"_s);
    const int currNum = resultSet->columnIndexForName(u"currNum"_s);
    while (resultSet->next()) {
        // Read as 64-bit: the counter is a 64-bit number and may pass 2^31.
        setReceiptNoSetting({QUuid::createUuid(), resultSet->int64ForColumnIndex(numLong),
                             resultSet->int64ForColumnIndex(currNum)});
    }
}

void ReceiptNoStore::applyReceiptNo()
{
    AppStore &appStore = AppStore::shared();
    Receipt edit = appStore.receiptEdit();
    edit.receiptNo = receiptNumberText(m_setting);
    appStore.setReceiptEdit(edit);
}

void ReceiptNoStore::nextReceiptNo()
{
    ReceiptNoSetting setting = m_setting;
    const qint64 digits = QString::number(setting.currNum).size();
    if (setting.numLong < digits) {
        setting.numLong += 1;
        setReceiptNoSetting(setting);
    }

    SQLiteHelper &helper = SQLiteHelper::shared();
    for (;;) {
        applyReceiptNo();
        const QString number = AppStore::shared().receiptEdit().receiptNo;
        const QString sql
            = u"select count(*)\nfrom tb_receipt\nwhere receiptNo = "_s + sqlQuote(number) + u";"_s;
        if (!helper.exists(sql))
            break;
        // The counter stops at the largest 64-bit number rather than wrapping round.
        if (m_setting.currNum == std::numeric_limits<qint64>::max())
            break;
        setting = m_setting;
        setting.currNum += 1;
        setReceiptNoSetting(setting);
    }
    saveSetting();
}

bool ReceiptNoStore::saveSetting()
{
    const QString sql = u"update tb_receiptNo\nset    numLong = "_s
        + sqlQuote(QString::number(m_setting.numLong)) + u" ,\n       currNum = "_s
        + sqlQuote(QString::number(m_setting.currNum)) + u" ;"_s;
    return SQLiteHelper::shared().write(sql);
}
