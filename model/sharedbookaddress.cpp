// SPDX-License-Identifier: GPL-3.0-or-later
#include "sharedbookaddress.h"

#include "database.h"
#include "databaseerror.h"
#include "preferences.h"
#include "sqlitehelper.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace {

QString encoded(const QString &part)
{
    // Everything but letters, digits and -._~: libpq decodes each part of the URI.
    return QString::fromLatin1(QUrl::toPercentEncoding(part));
}

QString preferenceKey()
{
    return u"sharedBook"_s;
}

QString localBookKey()
{
    return u"localBook"_s;
}

// What a failed open means for the user. libpq's and the server's messages are matched as
// they read in English (the C locale the server and libpq run in by default); anything else
// is told as the server said it.
QString openFailure(const SharedBookAddress &address, const QString &message, bool *passwordFailure)
{
    const QString server
        = u"%1:%2"_s.arg(address.host.isEmpty() ? u"本机"_s : address.host).arg(address.port);
    const auto has = [&message](QLatin1StringView text) {
        return message.contains(text, Qt::CaseInsensitive);
    };
    if (has("no password supplied"_L1) || has("password authentication failed"_L1)) {
        *passwordFailure = true;
        return has("no password supplied"_L1) ? u"服务器要求密码：请填写%1密码。"_s.arg(
                   address.user.isEmpty() ? QString() : u"用户 %1 的"_s.arg(address.user))
                                              : u"密码不对（或者服务器上没有这个用户）。"_s;
    }
    if (has("role \""_L1) && has("does not exist"_L1))
        return u"服务器上没有用户 %1。"_s.arg(address.user);
    if (has("database \""_L1) && has("does not exist"_L1))
        return u"服务器 %1 上没有数据库 %2。"_s.arg(server, address.database);
    if (has("pg_hba.conf"_L1))
        return u"服务器 %1 不允许这台电脑以用户 %2 连接数据库 %3，请服务器的管理员在 "
               u"pg_hba.conf 中允许。"_s.arg(server, address.user, address.database);
    if (has("could not translate host name"_L1) || has("name or service not known"_L1))
        return u"找不到服务器 %1：请检查服务器的名字。"_s.arg(address.host);
    if (has("does not support SSL"_L1))
        return u"服务器 %1 不支持加密连接：请把“加密连接”改为“优先加密”或“不加密”。"_s.arg(server);
    if (has("certificate"_L1) || has("root.crt"_L1))
        return u"无法验证服务器 %1 的证书：这台电脑需要服务器的根证书"
               u"（~/.postgresql/root.crt），或者改用“必须加密”。"_s.arg(server);
    if (has("connection refused"_L1) || has("could not connect"_L1) || has("timeout"_L1)
        || has("no route to host"_L1) || has("network is unreachable"_L1)
        || has("no such file or directory"_L1))
        return u"连接不上服务器 %1：服务器没有运行，或者服务器、端口不对。"_s.arg(server);
    return u"无法连接服务器 %1。"_s.arg(server);
}

} // namespace

QString SharedBookAddress::uri() const
{
    QString text = u"postgresql://"_s;
    if (!user.isEmpty())
        text += encoded(user) + u'@';
    // A socket's folder is no host name: libpq takes it as the host parameter.
    const bool socketFolder = host.startsWith(u'/');
    if (!socketFolder)
        text += host.contains(u':') ? u'[' + host + u']' : encoded(host);
    text += u':' + QString::number(port) + u'/' + encoded(database);
    QStringList parameters;
    if (socketFolder)
        parameters.append(u"host="_s + encoded(host));
    if (!sslMode.isEmpty())
        parameters.append(u"sslmode="_s + encoded(sslMode));
    if (!parameters.isEmpty())
        text += u'?' + parameters.join(u'&');
    return text;
}

std::optional<SharedBookAddress> SharedBookAddress::fromUri(const QString &uri)
{
    if (!Database::isServerBook(uri))
        return std::nullopt;
    const QUrl url(uri, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    const QUrlQuery query(url);
    SharedBookAddress address;
    address.host = query.hasQueryItem(u"host"_s)
        ? query.queryItemValue(u"host"_s, QUrl::FullyDecoded)
        : url.host(QUrl::FullyDecoded);
    address.port = url.port(5432);
    if (query.hasQueryItem(u"port"_s))
        address.port = query.queryItemValue(u"port"_s).toInt();
    address.database = url.path(QUrl::FullyDecoded).mid(1);
    if (query.hasQueryItem(u"dbname"_s))
        address.database = query.queryItemValue(u"dbname"_s, QUrl::FullyDecoded);
    address.user = url.userName(QUrl::FullyDecoded);
    if (query.hasQueryItem(u"user"_s))
        address.user = query.queryItemValue(u"user"_s, QUrl::FullyDecoded);
    address.sslMode = query.hasQueryItem(u"sslmode"_s)
        ? query.queryItemValue(u"sslmode"_s, QUrl::FullyDecoded)
        : u"prefer"_s;
    return address;
}

bool SharedBookAddresses::check(const QString &uri, const QString &password, QString *error,
                                bool *passwordFailure)
{
    bool wrongPassword = false;
    const auto fail = [&](const QString &reason, const QString &serverSaid) {
        if (error)
            *error = serverSaid.isEmpty()
                ? reason
                : u"%1\n\n服务器的回答：%2"_s.arg(reason, serverSaid.simplified());
        if (passwordFailure)
            *passwordFailure = wrongPassword;
        return false;
    };
    const std::optional<SharedBookAddress> address = SharedBookAddress::fromUri(uri);
    if (!address)
        return fail(u"这不是共享账本的地址：%1"_s.arg(uri), {});
    // Only read: the check needs none of the desks' lock.
    Database connection(uri, Database::OpenMode::ExistingFileOnly);
    connection.setLogsErrors(false);
    connection.setOpenReadOnly(true);
    connection.setPassword(password);
    if (!connection.open()) {
        const QString message = connection.lastError().detail();
        return fail(openFailure(*address, message, &wrongPassword), message);
    }
    if (!connection.executeQuery(u"select max(version) from tb_schema"_s)) {
        const DatabaseError failure = connection.lastError();
        const QString message = failure.detail();
        if (failure.kind() == DatabaseError::Kind::MissingTable)
            return fail(u"数据库 %1 不是 Quenta 的共享账本（其中没有账本的表）。共享账本要先用 "
                        u"quenta --create-shared-book 建立。"_s.arg(address->database),
                        {});
        if (failure.kind() == DatabaseError::Kind::NoRight)
            return fail(
                u"用户 %1 没有读取共享账本 %2 的权限。"_s.arg(address->user, address->database),
                message);
        return fail(u"无法读取共享账本 %1。"_s.arg(address->database), message);
    }
    return true;
}

void SharedBookAddresses::usePassword(const QString &password)
{
    Database::setServerPassword(password);
}

QString SharedBookAddresses::remembered()
{
    const QString uri = Preferences::value(preferenceKey());
    return Database::isServerBook(uri) ? uri : QString();
}

void SharedBookAddresses::remember(const QString &uri)
{
    Preferences::setValue(preferenceKey(), uri);
}

void SharedBookAddresses::forget()
{
    Preferences::remove(preferenceKey());
}

QString SharedBookAddresses::localBook()
{
    const QString path = Preferences::value(localBookKey());
    return !path.isEmpty() && QFileInfo(path).isFile() ? path : QString();
}

void SharedBookAddresses::rememberLocalBook(const QString &path)
{
    const QString documents = SQLiteHelper::documentsDirectory();
    const QFileInfo book(path);
    const QFileInfo standard(QDir(documents).filePath(SQLiteHelper::dbName() + u".db"_s));
    const bool isStandard = !documents.isEmpty()
        && (book.absoluteFilePath() == standard.absoluteFilePath()
            || (book.exists() && book.canonicalFilePath() == standard.canonicalFilePath()));
    if (path.isEmpty() || Database::isServerBook(path) || isStandard)
        Preferences::remove(localBookKey());
    else
        Preferences::setValue(localBookKey(), book.absoluteFilePath());
}
