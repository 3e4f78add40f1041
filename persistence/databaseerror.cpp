// SPDX-License-Identifier: GPL-3.0-or-later
#include "databaseerror.h"

#include <sqlite3.h>

using namespace Qt::StringLiterals;

QString describeDatabaseError(int code, const QString &message)
{
    if (code == serverConnectionLost) {
        // libpq's messages, told in Chinese where they say what happened; the first line of
        // any other.
        const QString first = message.trimmed().section(u'\n', 0, 0).trimmed();
        QString reason = first;
        if (first.contains(u"server closed the connection"_s) || first.contains(u"no connection to the server"_s)
            || first.contains(u"terminating connection"_s))
            reason = u"服务器断开了连接"_s;
        else if (first.contains(u"Connection refused"_s) || first.contains(u"No such file or directory"_s)
                 || first.contains(u"the database system is"_s))
            reason = u"服务器没有运行"_s;
        else if (first.contains(u"timeout"_s, Qt::CaseInsensitive))
            reason = u"服务器没有应答"_s;
        else if (first.contains(u"could not translate host name"_s))
            reason = u"找不到服务器"_s;
        else if (first.contains(u"password authentication failed"_s)
                 || first.contains(u"no password supplied"_s))
            reason = u"密码不对或没有密码"_s;
        return u"共享账本连接中断：%1"_s.arg(reason);
    }
    if (code == serverLockTimeout)
        return u"其他电脑正占用账本，请稍后再试"_s;
    if (code == serverBookHeld)
        return message;
    const auto named = [&message](const QString &prefix) {
        return message.startsWith(prefix) ? message.mid(prefix.size()).trimmed() : QString();
    };
    if (const QString column = named(u"no such column:"_s); !column.isEmpty())
        return u"数据库缺少列 %1"_s.arg(column);
    if (const QString table = named(u"no such table:"_s); !table.isEmpty())
        return u"数据库缺少表 %1"_s.arg(table);
    switch (code & 0xff) {
    case SQLITE_BUSY:
        // This program's own reads give way to its writes (Database::setYieldsToWriters):
        // a lock still held past the busy interval is another program's, most likely
        // another copy of Quenta writing (an import from the command line runs as one
        // transaction).
        return u"账本正被其他程序占用（另一个 Quenta 正在导入？），请稍后再试"_s;
    case SQLITE_LOCKED:
        // Held by another statement of the same connection, not by another program.
        return u"账本正被本程序的另一项操作占用，请稍后再试"_s;
    case SQLITE_INTERRUPT:
        return u"读取让位给保存后没有完成，请稍后再试"_s;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return u"数据库文件已损坏"_s;
    case SQLITE_FULL:
        return u"磁盘已满"_s;
    case SQLITE_READONLY:
        return u"数据库文件只能读取"_s;
    case SQLITE_CANTOPEN:
        return u"无法打开数据库文件"_s;
    case SQLITE_IOERR:
        return u"读写数据库文件出错"_s;
    case SQLITE_CONSTRAINT:
        return u"数据与已有记录冲突（%1）"_s.arg(message);
    default:
        return message.isEmpty() ? u"数据库错误"_s : u"数据库错误（%1）"_s.arg(message);
    }
}

bool isLockError(int code)
{
    return (code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED;
}

bool isInterruption(int code)
{
    return (code & 0xff) == SQLITE_INTERRUPT;
}

bool isConflict(int code)
{
    return (code & 0xff) == SQLITE_CONSTRAINT;
}

bool isPermissionError(int code)
{
    return (code & 0xff) == SQLITE_PERM;
}

bool isMissingTable(const QString &message)
{
    return message.startsWith(u"no such table:"_s);
}
