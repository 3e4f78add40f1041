// SPDX-License-Identifier: GPL-3.0-or-later
#include "databaseerror.h"

using namespace Qt::StringLiterals;

DatabaseError::DatabaseError(Kind kind, const QString &detail, const QString &code,
                             const QString &name, const QString &message)
    : m_kind(kind)
    , m_detail(detail)
    , m_code(code)
    , m_name(name)
    , m_message(message)
{ }

QString DatabaseError::message() const
{
    if (!m_message.isEmpty())
        return m_message;
    switch (m_kind) {
    case Kind::None:
        return {};
    case Kind::HeldElsewhere:
        // This program's own reads give way to its writes (Database::setYieldsToWriters):
        // a lock still held past the busy interval is another program's, most likely
        // another copy of Quenta writing (an import from the command line runs as one
        // transaction).
        return u"账本正被其他程序占用（另一个 Quenta 正在导入？），请稍后再试"_s;
    case Kind::HeldHere:
        return u"账本正被本程序的另一项操作占用，请稍后再试"_s;
    case Kind::Interrupted:
        return u"读取让位给保存后没有完成，请稍后再试"_s;
    case Kind::Damaged:
        return u"数据库文件已损坏"_s;
    case Kind::DiskFull:
        return u"磁盘已满"_s;
    case Kind::ReadOnly:
        return u"数据库文件只能读取"_s;
    case Kind::CannotOpen:
        return u"无法打开数据库文件"_s;
    case Kind::ReadWrite:
        return u"读写数据库文件出错"_s;
    case Kind::Conflict:
        return u"数据与已有记录冲突（%1）"_s.arg(m_detail);
    case Kind::MissingTable:
        if (!m_name.isEmpty())
            return u"数据库缺少表 %1"_s.arg(m_name);
        break;
    case Kind::MissingColumn:
        if (!m_name.isEmpty())
            return u"数据库缺少列 %1"_s.arg(m_name);
        break;
    case Kind::RowHeldTooLong:
        return u"其他电脑正占用账本，请稍后再试"_s;
    case Kind::ConnectionLost:
        return u"共享账本连接中断：%1"_s.arg(m_detail.trimmed().section(u'\n', 0, 0).trimmed());
    case Kind::DayClosed:
        return u"该日已日结：已日结的收据不能修改、删除或取消作废，也不能把收据开在已日结的日子"_s;
    case Kind::PaperBookFinal:
        return u"已登记的收据本不能改动或删除，缴销也不能撤销"_s;
    case Kind::OutsidePaperBooks:
        return u"单号不在已登记的收据本内：登记了收据本的类别，只能开收据本上未缴销的单号"_s;
    case Kind::NoRight:
    case Kind::MissingRoutine:
    case Kind::BookHeldExclusively:
    case Kind::RolledBack:
    case Kind::Other:
        break;
    }
    return m_detail.isEmpty() ? u"数据库错误"_s : u"数据库错误（%1）"_s.arg(m_detail);
}
