// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptnostore.h"

#include "appstore.h"
#include "database.h"
#include "receiptbook.h"
#include "seriesstore.h"
#include "sqlitehelper.h"
#include "sqlliteral.h"
#include "transaction.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QScopeGuard>

#include <limits>
#include <utility>

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
    // A number found free by a save stays so only until a receipt is added elsewhere (or
    // here by other means), or the book is another.
    ReceiptBook &book = ReceiptBook::shared();
    connect(&book, &ReceiptBook::changed, this, [this](const BookChange &change) {
        if (change.kind == BookChange::Kind::Issued || change.kind == BookChange::Kind::Restored) {
            m_checkedNext = false;
            if (change.elsewhere)
                m_checkedSeriesNext.clear();
        }
    });
    connect(&book, &ReceiptBook::replaced, this, [this] {
        m_checkedNext = false;
        m_checkedSeriesNext.clear();
    });
}

void ReceiptNoStore::setReceiptNoSetting(const ReceiptNoSetting &setting)
{
    m_checkedNext = false;
    m_setting = setting;
    Q_EMIT receiptNoSettingChanged();
}

QString ReceiptNoStore::receiptNumberText(const ReceiptNoSetting &setting)
{
    return ReceiptNumbering::numberText(setting);
}

void ReceiptNoStore::setStatus(Status status)
{
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT statusChanged();
}

QString ReceiptNoStore::statusText(Status status)
{
    switch (status) {
    case Status::Ready:
        return {};
    case Status::CheckFailed:
        return ReceiptNumbering::checkFailedText();
    case Status::Exhausted:
        return ReceiptNumbering::exhaustedText();
    case Status::SettingInvalid:
        return ReceiptNumbering::invalidSettingText();
    case Status::Stopped:
        return SharedInstance<ReceiptNoStore>::exists() ? shared().stopText() : QString();
    }
    return {};
}

bool ReceiptNoStore::isTaken(const QString &number, qint64 value, bool *taken, QString *error)
{
    return ReceiptBook::shared().isNumberUsed(number, value, taken, error);
}

QString ReceiptNoStore::saveStatement(const ReceiptNoSetting &setting)
{
    return ReceiptNumbering::saveStatement(setting);
}

void ReceiptNoStore::loadSetting()
{
    // A setting that is no number is not loaded: the one held stays, and the next number
    // says numbering has stopped (nextReceiptNo() judges the stored one again).
    const std::optional<ReceiptNoSetting> stored = ReceiptNumbering::stored(SQLiteHelper::shared());
    if (stored)
        setReceiptNoSetting({QUuid::createUuid(), stored->numLong, stored->currNum});
}

void ReceiptNoStore::applyReceiptNo()
{
    AppStore &appStore = AppStore::shared();
    Receipt edit = appStore.receiptEdit();
    edit.receiptNo = receiptNumberText(m_setting);
    appStore.setReceiptEdit(edit);
}

std::optional<qint64> ReceiptNoStore::storedCounter()
{
    return ReceiptNumbering::storedCounter(SQLiteHelper::shared());
}

std::optional<ReceiptNoSetting> ReceiptNoStore::storedSetting()
{
    return ReceiptNumbering::stored(SQLiteHelper::shared());
}

void ReceiptNoStore::takeCheckedNext(const ReceiptNoSetting &setting)
{
    setReceiptNoSetting({m_setting.id, setting.numLong, setting.currNum});
    m_checkedNext = true;
}

void ReceiptNoStore::takeCheckedNext(const QString &seriesNumber)
{
    m_checkedSeriesNext = seriesNumber;
}

bool ReceiptNoStore::showCheckedNext()
{
    // The form's series: its next number as the save found it, while the form's date is of
    // the same year and no receipt was added elsewhere since.
    if (const QString series = std::exchange(m_checkedSeriesNext, QString()); !series.isEmpty()) {
        if (!SharedInstance<ReceiptSeriesStore>::exists()
            || ReceiptSeriesStore::shared().current().isEmpty())
            return false;
        AppStore &appStore = AppStore::shared();
        Receipt edit = appStore.receiptEdit();
        edit.receiptNo = series;
        appStore.setReceiptEdit(edit);
        setStatus(Status::Ready);
        return true;
    }
    if (!std::exchange(m_checkedNext, false))
        return false;
    applyReceiptNo();
    setStatus(Status::Ready);
    return true;
}

void ReceiptNoStore::nextInSeries(const QString &series)
{
    AppStore &appStore = AppStore::shared();
    ReceiptBook::SeriesNext next;
    QString why;
    Receipt edit = appStore.receiptEdit();
    if (!ReceiptBook::shared().nextInSeries(series, edit.receiptDate.date(), &next, &why)) {
        m_stopText = why;
        edit.receiptNo.clear();
        appStore.setReceiptEdit(edit);
        setStatus(Status::Stopped);
        Q_EMIT statusChanged();
        return;
    }
    edit.receiptNo = next.number;
    appStore.setReceiptEdit(edit);
    setStatus(Status::Ready);
}

std::optional<qint64> ReceiptNoStore::fitIntoBooks(qint64 numLong, qint64 from)
{
    ReceiptBook &book = ReceiptBook::shared();
    const std::optional<QList<PaperBook>> books = SeriesTables::books(SQLiteHelper::shared(), QString());
    if (!books)
        return std::nullopt;
    QString why;
    const std::optional<qint64> next = book.nextInBooks(
        {SeriesNumber::defaultName(), {}, numLong, false}, 0, from, *books, &why);
    if (!next)
        m_stopText = why.isEmpty() ? ReceiptNumbering::checkFailedText() : why;
    return next;
}

void ReceiptNoStore::nextReceiptNo(Counter counter)
{
    m_checkedNext = false;
    // The form's series, when it is another than the book's own numbering.
    // The series and their paper books are read with the numbering's first use.
    ReceiptSeriesStore &seriesStore = ReceiptSeriesStore::shared();
    const QString series = seriesStore.current();
    if (!series.isEmpty() && counter == Counter::Forward) {
        nextInSeries(series);
        return;
    }
    // The book's own numbering set by the user while the form issues from another series:
    // the form shows that series' number again afterwards.
    const auto formSeries = qScopeGuard([this, &series] {
        if (!series.isEmpty())
            nextInSeries(series);
    });
    // With paper books, the number of the book in use: the search below starts there.
    const bool books = seriesStore.hasBooks(QString());
    // On a shared book, one round trip when the counter is stored as this copy has it and
    // its number is free (a receipt edited, another form begun): nothing moves or is
    // written. Otherwise, or on a file, the whole search below.
    if (counter == Counter::Forward && !books
        && m_setting.numLong >= QString::number(m_setting.currNum).size()
        && ReceiptBook::shared().isCounterStoredAndFree(m_setting)) {
        applyReceiptNo();
        setStatus(Status::Ready);
        return;
    }
    // The check and the counter's move in one write transaction, starting from the stored
    // counter when it is ahead of this copy's: another program may have issued numbers
    // since this one loaded it, and a number it issued and then deleted is free to the
    // check but already on paper. The counter so never moves back, unless the user sets it
    // back on purpose. A book that cannot be written (read-only, held past the wait) still
    // gets its number checked.
    SQLiteHelper &helper = SQLiteHelper::shared();
    Transaction transaction(helper.db());
    const bool writing = helper.open() && transaction.begin();
    ReceiptNoSetting setting = m_setting;
    if (counter == Counter::Forward) {
        // A stored setting that is no number stops numbering until it is set again; the
        // user setting it (AsSet) is what mends it.
        QString problem;
        const std::optional<qint64> stored = ReceiptNumbering::storedCounter(helper, &problem);
        if (!problem.isEmpty()) {
            setStatus(Status::SettingInvalid);
            return;
        }
        if (stored && *stored > setting.currNum)
            setting.currNum = *stored;
    }
    if (books && counter == Counter::Forward) {
        const std::optional<qint64> inBook = fitIntoBooks(setting.numLong, 0);
        if (!inBook) {
            setStatus(Status::Stopped);
            Q_EMIT statusChanged();
            return;
        }
        setting.currNum = *inBook;
    }
    const qint64 digits = QString::number(setting.currNum).size();
    if (setting.numLong < digits)
        setting.numLong += 1;
    if (!(setting == m_setting))
        setReceiptNoSetting(setting);

    for (;;) {
        applyReceiptNo();
        const QString number = AppStore::shared().receiptEdit().receiptNo;
        bool taken = true;
        if (!isTaken(number, m_setting.currNum, &taken)) {
            // A failed check is not a free number: with a lock held by another copy of
            // the program, that number may be the one it has just saved.
            setStatus(Status::CheckFailed);
            return;
        }
        if (!taken)
            break;
        // The counter stops at the largest 64-bit number rather than wrapping round.
        if (m_setting.currNum == std::numeric_limits<qint64>::max()) {
            setStatus(Status::Exhausted);
            return;
        }
        setting = m_setting;
        setting.currNum += 1;
        if (books && counter == Counter::Forward) {
            const std::optional<qint64> inBook = fitIntoBooks(setting.numLong, setting.currNum);
            if (!inBook) {
                setStatus(Status::Stopped);
                Q_EMIT statusChanged();
                return;
            }
            setting.currNum = *inBook;
        }
        setReceiptNoSetting(setting);
    }
    setStatus(Status::Ready);
    // Saved, unless the book holds this very setting already (the save just issued moved
    // it there): writing it again would only cost the window a second commit to disk.
    if (!writing)
        return;
    if (ReceiptNumbering::isStored(helper, m_setting))
        return;
    if (writeSetting(counter == Counter::AsSet))
        transaction.commit();
}

bool ReceiptNoStore::saveSetting()
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    if (helper.db().isInTransaction())
        return writeSetting(true);
    Transaction transaction(helper.db());
    return helper.open() && transaction.begin() && writeSetting(true) && transaction.commit();
}

bool ReceiptNoStore::writeSetting(bool setByUser)
{
    SQLiteHelper &helper = SQLiteHelper::shared();
    QJsonObject changes;
    if (setByUser) {
        // What the user changed, as the book held it before: a counter set back shows.
        const std::optional<ReceiptNoSetting> before = ReceiptNumbering::stored(helper);
        if (!before || before->numLong != m_setting.numLong)
            changes.insert(u"单号长度"_s, QJsonArray {before ? QJsonValue(before->numLong)
                                                             : QJsonValue(),
                                                      m_setting.numLong});
        if (!before || before->currNum != m_setting.currNum)
            changes.insert(u"当前单号"_s, QJsonArray {before ? QJsonValue(before->currNum)
                                                             : QJsonValue(),
                                                      m_setting.currNum});
    }
    return helper.write(saveStatement(m_setting), SQLiteHelper::Changes::AtLeastOne)
        && ReceiptBook::shared().recordSetting(u"收据单号"_s, changes);
}
