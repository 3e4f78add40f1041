// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sharedinstance.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class ResultSet;

// One entry of a lookup list: a paying party, reason, explanation, remark or payment
// method. `index` is the entry's 1-based place in the last load; it is not stored.
struct LookupEntry
{
    QString id;
    qint64 index = 0;
    QString content;
    friend bool operator==(const LookupEntry &, const LookupEntry &) = default;
};
using Payer = LookupEntry;
using Reason1 = LookupEntry;
using Reason2 = LookupEntry;
using Remark = LookupEntry;
using Paytype = LookupEntry;

// A system user, offered as payee, approver and accountant. password, power and status
// are read on load but never written.
struct Account
{
    QString id;
    qint64 index = 0;
    QString userName;
    QString password;
    QString power;
    QString status;
    friend bool operator==(const Account &, const Account &) = default;
};

// What one lookup table looks like in SQL. The texts differ between tables in their
// names and, for tb_account, in a few spaces; the statements are built from these.
struct LookupTable
{
    QString table; // tb_payer
    QString valueColumn; // content, userName
    QString loadColumn; // the name the load reads the value under
    int insertValueIndent; // spaces before the value's quote in the insert
};

// The common part of the six lookup stores: the offered texts (`items`), the SQL of
// the table and the write pattern. The typed list of records lives in LookupStore<R>.
class LookupStoreBase : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList items READ items WRITE setItems NOTIFY itemsChanged)

public:
    QStringList items() const { return m_items; }
    void setItems(const QStringList &items);
    const LookupTable &table() const { return m_table; }

    // Whether an entry holds exactly `value`, which the editor screens ask before adding.
    // False too when the table cannot be read.
    bool contains(const QString &value) const;

    virtual void load() = 0;
    // Removes every entry whose id is in `ids`, then reloads. An empty set runs
    // nothing and answers false.
    bool remove(const QSet<QString> &ids);

Q_SIGNALS:
    void itemsChanged();
    void datasChanged();

protected:
    explicit LookupStoreBase(LookupTable table);
    QString loadSql() const;
    QString insertSql(const QString &id, const QString &value) const;
    QString updateSql(const QString &id, const QString &value) const;
    // The write pattern, followed by a reload when the statement ran.
    bool writeAndReload(const QString &sql);

    LookupTable m_table;
    QStringList m_items;
};

template<typename Record>
class LookupStore : public LookupStoreBase
{
public:
    QList<Record> datas() const { return m_datas; }
    void setDatas(const QList<Record> &datas)
    {
        m_datas = datas;
        Q_EMIT datasChanged();
    }

    void load() override;
    bool insert(const Record &record);
    bool update(const Record &record);

protected:
    using LookupStoreBase::LookupStoreBase;
    QList<Record> m_datas;
};

extern template class LookupStore<LookupEntry>;
extern template class LookupStore<Account>;

class PayerStore : public LookupStore<Payer>
{
    Q_OBJECT
    Q_PROPERTY(QList<Payer> datas READ datas WRITE setDatas NOTIFY datasChanged)
public:
    static PayerStore &shared();

private:
    friend class SharedInstance<PayerStore>;
    PayerStore();
};

class Reason1Store : public LookupStore<Reason1>
{
    Q_OBJECT
    Q_PROPERTY(QList<Reason1> datas READ datas WRITE setDatas NOTIFY datasChanged)
public:
    static Reason1Store &shared();

private:
    friend class SharedInstance<Reason1Store>;
    Reason1Store();
};

class Reason2Store : public LookupStore<Reason2>
{
    Q_OBJECT
    Q_PROPERTY(QList<Reason2> datas READ datas WRITE setDatas NOTIFY datasChanged)
public:
    static Reason2Store &shared();

private:
    friend class SharedInstance<Reason2Store>;
    Reason2Store();
};

class RemarkStore : public LookupStore<Remark>
{
    Q_OBJECT
    Q_PROPERTY(QList<Remark> datas READ datas WRITE setDatas NOTIFY datasChanged)
public:
    static RemarkStore &shared();

private:
    friend class SharedInstance<RemarkStore>;
    RemarkStore();
};

class PaytypeStore : public LookupStore<Paytype>
{
    Q_OBJECT
    Q_PROPERTY(QList<Paytype> datas READ datas WRITE setDatas NOTIFY datasChanged)
public:
    static PaytypeStore &shared();

private:
    friend class SharedInstance<PaytypeStore>;
    PaytypeStore();
};

class AccountStore : public LookupStore<Account>
{
    Q_OBJECT
    Q_PROPERTY(QList<Account> datas READ datas WRITE setDatas NOTIFY datasChanged)
public:
    static AccountStore &shared();

private:
    friend class SharedInstance<AccountStore>;
    AccountStore();
};
