// SPDX-License-Identifier: GPL-3.0-or-later
#include "pgconnection.h"

#include <QElapsedTimer>
#include <QStringDecoder>

#include <libpq-fe.h>

#include <poll.h>

#include <atomic>
#include <cerrno>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

QString fromUtf8(const char *text)
{
    return text ? QString::fromUtf8(text).trimmed() : QString();
}

// libpq prints the server's notices (WARNING, NOTICE) on standard error by default; a
// command's standard error carries its own messages only.
void ignoreNotice(void *, const char *) { }

// The conditions every connection of the program gets unless its string says otherwise.
// They precede the string, whose values win.
struct Defaults
{
    const char *keyword;
    const char *value;
};
constexpr Defaults defaults[] = {
    {"connect_timeout", "10"},
    {"application_name", "quenta"},
    // A host that stops answering (a cable pulled, a server powered off) is given up on
    // after about half a minute instead of TCP's quarter of an hour.
    {"keepalives", "1"},
    {"keepalives_idle", "10"},
    {"keepalives_interval", "5"},
    {"keepalives_count", "3"},
    {"tcp_user_timeout", "30000"},
};

std::atomic<void (*)(bool)> waitNotice {nullptr};

PgConnection::Timeouts &currentTimeouts()
{
    static PgConnection::Timeouts timeouts;
    return timeouts;
}

// The session's settings that every statement is started with (see the class comment),
// as options of the connection's start: they override what the server, the database or
// the role sets, and cost no round trip. They follow the options the string itself gives.
QByteArray sessionOptions(const char *given, bool readOnly)
{
    QByteArray options = given ? QByteArray(given) : QByteArray();
    options += " -c standard_conforming_strings=on";
    const PgConnection::Timeouts timeouts = PgConnection::timeouts();
    options += " -c lock_timeout=" + QByteArray::number(timeouts.lockWaitSeconds) + "s";
    options += " -c idle_in_transaction_session_timeout="
        + QByteArray::number(timeouts.idleInTransactionSeconds) + "s";
    if (readOnly)
        options += " -c default_transaction_read_only=on";
    return options.trimmed();
}

QString unsafeSessionMessage(const QByteArray &conforming, const QByteArray &encoding)
{
    return u"服务器会话的设置会改变语句的含义（standard_conforming_strings = %1，client_encoding = "
           u"%2），"
           u"为免写错数据，Quenta 不在这个连接上执行语句"_s.arg(
               QString::fromUtf8(conforming.isEmpty() ? "?" : conforming),
               QString::fromUtf8(encoding.isEmpty() ? "?" : encoding));
}

} // namespace

PgConnection::Timeouts PgConnection::timeouts()
{
    return currentTimeouts();
}

void PgConnection::setTimeouts(const Timeouts &timeouts)
{
    currentTimeouts() = timeouts;
}

void PgConnection::setWaitNotice(void (*notice)(bool waiting))
{
    waitNotice = notice;
}

QString PgError::text() const
{
    return isEmpty() ? QString() : sqlState + u' ' + message;
}

// --- PgResult -----------------------------------------------------------------

PgResult::PgResult(pg_result *result)
    : m_result(result)
{ }

PgResult::~PgResult()
{
    PQclear(m_result);
}

PgResult::PgResult(PgResult &&other) noexcept
    : m_result(std::exchange(other.m_result, nullptr))
{ }

PgResult &PgResult::operator=(PgResult &&other) noexcept
{
    if (this != &other) {
        PQclear(m_result);
        m_result = std::exchange(other.m_result, nullptr);
    }
    return *this;
}

int PgResult::rowCount() const
{
    return m_result ? PQntuples(m_result) : 0;
}

int PgResult::columnCount() const
{
    return m_result ? PQnfields(m_result) : 0;
}

int PgResult::columnIndex(const QString &name) const
{
    // In any letter case, as on SQLite: the server folds unquoted names to lower case,
    // so receiptNo comes back as receiptno.
    const int count = columnCount();
    for (int i = 0; i < count; ++i) {
        if (QString::fromUtf8(PQfname(m_result, i)).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

qint64 PgResult::affectedRows() const
{
    return m_result ? QByteArray(PQcmdTuples(m_result)).toLongLong() : 0;
}

QString PgResult::commandStatus() const
{
    return m_result ? fromUtf8(PQcmdStatus(m_result)) : QString();
}

bool PgResult::isNull(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return true;
    return PQgetisnull(m_result, row, column) == 1;
}

std::optional<QByteArrayView> PgResult::bytes(int row, int column) const
{
    if (isNull(row, column))
        return std::nullopt;
    return QByteArrayView(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
}

std::optional<QString> PgResult::text(int row, int column) const
{
    const std::optional<QByteArrayView> value = bytes(row, column);
    if (!value)
        return std::nullopt;
    // QString::fromUtf8 would take a leading U+FEFF for a byte order mark and drop it.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless
                               | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(*value);
}

std::optional<qint64> PgResult::int64(int row, int column) const
{
    const std::optional<QByteArrayView> value = bytes(row, column);
    if (!value)
        return std::nullopt;
    bool ok = false;
    const qint64 number = QByteArray::fromRawData(value->data(), value->size()).toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

// --- PgConnection -------------------------------------------------------------

PgConnection::PgConnection(const QString &connectionString)
    : m_connectionString(connectionString)
{ }

PgConnection::~PgConnection()
{
    close();
}

bool PgConnection::open(const QString &password)
{
    if (m_handle)
        return true;
    const QByteArray conninfo = m_connectionString.toUtf8();

    // libpq's own parser: a string it cannot read is refused with its message, and one
    // that carries a password is refused before anything connects.
    char *parseError = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo.constData(), &parseError);
    if (!options) {
        m_lastError = {PgState::cannotConnect.toString(),
                       parseError ? fromUtf8(parseError) : u"out of memory"_s, true};
        PQfreemem(parseError);
        return false;
    }
    bool carriesPassword = false;
    QByteArray givenOptions;
    for (const PQconninfoOption *option = options; option->keyword; ++option) {
        if (qstrcmp(option->keyword, "password") == 0 && option->val && *option->val)
            carriesPassword = true;
        if (qstrcmp(option->keyword, "options") == 0 && option->val)
            givenOptions = option->val;
    }
    PQconninfoFree(options);
    if (carriesPassword) {
        m_lastError = {PgState::cannotConnect.toString(),
                       u"连接串中不能写密码，请把密码放在 ~/.pgpass 或 PGPASSWORD 中"_s, true};
        return false;
    }

    std::vector<const char *> keywords;
    std::vector<const char *> values;
    for (const Defaults &entry : defaults) {
        keywords.push_back(entry.keyword);
        values.push_back(entry.value);
    }
    // Expanded in place: what the string sets overrides the defaults above, and what
    // follows it overrides the string.
    keywords.push_back("dbname");
    values.push_back(conninfo.constData());
    // Every text is read and sent as UTF-8, whatever the server's or the user's default.
    keywords.push_back("client_encoding");
    values.push_back("UTF8");
    const QByteArray session = sessionOptions(givenOptions.constData(), m_readOnly);
    keywords.push_back("options");
    values.push_back(session.constData());
    const QByteArray passwordBytes = password.toUtf8();
    if (!password.isEmpty()) {
        keywords.push_back("password");
        values.push_back(passwordBytes.constData());
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);

    m_handle = PQconnectdbParams(keywords.data(), values.data(), 1);
    if (!m_handle) {
        m_lastError = {PgState::cannotConnect.toString(), u"out of memory"_s, true};
        return false;
    }
    if (PQstatus(m_handle) != CONNECTION_OK) {
        m_lastError = {PgState::cannotConnect.toString(), fromUtf8(PQerrorMessage(m_handle)), true};
        PQfinish(m_handle);
        m_handle = nullptr;
        return false;
    }
    PQsetNoticeProcessor(m_handle, ignoreNotice, nullptr);
    m_lastError = {};
    if (!checkSession()) {
        PQfinish(m_handle);
        m_handle = nullptr;
        return false;
    }
    return true;
}

bool PgConnection::isSessionSafe() const
{
    if (!m_handle)
        return false;
    const char *conforming = PQparameterStatus(m_handle, "standard_conforming_strings");
    const char *encoding = PQparameterStatus(m_handle, "client_encoding");
    return conforming && qstrcmp(conforming, "on") == 0 && encoding
        && qstrcmp(encoding, "UTF8") == 0;
}

bool PgConnection::checkSession()
{
    if (isSessionSafe())
        return true;
    m_lastError = {PgState::unsafeSession.toString(),
                   unsafeSessionMessage(PQparameterStatus(m_handle, "standard_conforming_strings"),
                                        PQparameterStatus(m_handle, "client_encoding")),
                   false};
    return false;
}

void PgConnection::close()
{
    if (m_handle) {
        PQfinish(m_handle);
        m_handle = nullptr;
    }
    m_channels.clear();
    m_prepared.clear();
}

bool PgConnection::isAlive()
{
    if (!m_handle || PQstatus(m_handle) != CONNECTION_OK)
        return false;
    // Asking leaves the failure the caller may still want to read, unless the answer is
    // that the connection is gone.
    const PgError error = m_lastError;
    if (!executeStatements(QString()) && m_lastError.connectionLost)
        return false;
    m_lastError = error;
    return true;
}

bool PgConnection::hasHungUp()
{
    if (!m_handle)
        return true;
    // Reads what has arrived, without waiting: a server that hung up said why (read and
    // passed to the notice processor), then the end of the stream, read on the next call,
    // marks the connection bad. Notifications read meanwhile stay for takeNotifications().
    for (int read = 0; read < 2; ++read) {
        if (PQconsumeInput(m_handle) == 0 || PQstatus(m_handle) != CONNECTION_OK)
            return true;
    }
    return false;
}

bool PgConnection::reconnect()
{
    if (!m_handle)
        return open();
    PQreset(m_handle);
    // A new session: nothing prepared on the old one is there.
    m_prepared.clear();
    if (PQstatus(m_handle) != CONNECTION_OK) {
        m_lastError = {PgState::cannotConnect.toString(), fromUtf8(PQerrorMessage(m_handle)), true};
        return false;
    }
    m_lastError = {};
    if (!checkSession())
        return false;
    for (const QString &channel : std::as_const(m_channels)) {
        if (!executeStatements(u"LISTEN "_s + quoteIdentifier(channel)))
            return false;
    }
    return true;
}

void PgConnection::noteConnectionFailure()
{
    m_lastError = {PgState::connectionFailure.toString(), fromUtf8(PQerrorMessage(m_handle)), true};
}

bool PgConnection::checkResult(pg_result *result)
{
    if (!result) {
        noteConnectionFailure();
        return false;
    }
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_EMPTY_QUERY) {
        m_lastError = {};
        return true;
    }
    // The server names every failure it reports. A failure without a name is libpq's own:
    // the connection broke (libpq may still call it good until it next reads, as after a
    // write to a closed socket). A FATAL one ends the session too (the server shutting
    // down).
    const QByteArray severity = PQresultErrorField(result, PG_DIAG_SEVERITY_NONLOCALIZED);
    QString state = fromUtf8(PQresultErrorField(result, PG_DIAG_SQLSTATE));
    const bool lost = state.isEmpty() || PQstatus(m_handle) != CONNECTION_OK || severity == "FATAL"
        || severity == "PANIC";
    if (state.isEmpty())
        state = PgState::connectionFailure.toString();
    QString message = fromUtf8(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY));
    if (message.isEmpty())
        message = fromUtf8(PQresultErrorMessage(result));
    m_lastError = {state, message, lost};
    return false;
}

// Waits until libpq holds the next result whole, reading what arrives. Tells the waiting
// notice once the statement has waited long enough, and gives the connection up when the
// server has sent nothing for the answer timeout: a server that stopped answering (its
// host frozen, its process stopped) keeps the socket open and would be waited for forever.
bool PgConnection::awaitInput(qint64 *waitedSince, bool *told)
{
    QElapsedTimer quiet;
    quiet.start();
    while (PQisBusy(m_handle)) {
        const qint64 timeout = m_answerTimeoutSeconds > 0
            ? qint64(m_answerTimeoutSeconds) * 1000 - quiet.elapsed()
            : -1;
        if (m_answerTimeoutSeconds > 0 && timeout <= 0) {
            m_lastError = {
                PgState::connectionFailure.toString(),
                u"timeout: the server sent no answer for %1 s"_s.arg(m_answerTimeoutSeconds), true};
            // The socket goes: the server rolls back what this session left open.
            PQfinish(m_handle);
            m_handle = nullptr;
            m_channels.clear();
            m_prepared.clear();
            return false;
        }
        qint64 wait = timeout;
        if (!*told) {
            const qint64 untilNotice = timeouts().noticeMilliseconds - *waitedSince;
            wait = wait < 0 ? untilNotice : std::min(wait, untilNotice);
        }
        pollfd socket {PQsocket(m_handle), POLLIN, 0};
        QElapsedTimer polled;
        polled.start();
        const int ready = poll(&socket, 1, wait < 0 ? -1 : int(std::max<qint64>(wait, 0)));
        *waitedSince += polled.elapsed();
        if (ready < 0 && errno != EINTR) {
            noteConnectionFailure();
            return false;
        }
        if (ready > 0) {
            if (PQconsumeInput(m_handle) == 0) {
                noteConnectionFailure();
                return false;
            }
            quiet.restart();
        }
        if (!*told && *waitedSince >= timeouts().noticeMilliseconds) {
            *told = true;
            if (auto *notice = waitNotice.load())
                notice(true);
        }
    }
    return true;
}

std::optional<PgResult> PgConnection::run(const QString &sql, const PgParameters &parameters,
                                          bool prepared, std::vector<PgResult> *earlier)
{
    if (!m_handle) {
        m_lastError = {PgState::connectionFailure.toString(), u"not connected"_s, true};
        return std::nullopt;
    }
    // A statement of a notice's handler while this one waits: the connection carries one
    // statement at a time.
    if (m_running) {
        m_lastError = {PgState::activeTransaction.toString(),
                       u"another statement is under way on this connection"_s, false};
        return std::nullopt;
    }
    // Every literal the program writes is quoted for a session that reads it as written:
    // one that would read backslashes in it as escapes (or another encoding) could be made
    // to run what a value holds.
    if (!checkSession())
        return std::nullopt;
    const QByteArray statement = sql.toUtf8();
    std::vector<QByteArray> texts;
    std::vector<const char *> values;
    texts.reserve(parameters.size());
    values.reserve(parameters.size());
    for (const std::optional<QString> &parameter : parameters) {
        if (!parameter) {
            values.push_back(nullptr);
            continue;
        }
        texts.push_back(parameter->toUtf8());
        // libpq takes a text value up to its first NUL: the rest would be dropped without
        // a word. The server refuses NUL in text anyway, so the value is refused whole.
        if (texts.back().contains('\0')) {
            m_lastError = {PgState::invalidByteSequence.toString(),
                           u"invalid byte sequence for encoding \"UTF8\": 0x00"_s, false};
            return std::nullopt;
        }
        values.push_back(texts.back().constData());
    }
    if (statement.contains('\0')) {
        m_lastError = {PgState::invalidByteSequence.toString(),
                       u"invalid byte sequence for encoding \"UTF8\": 0x00"_s, false};
        return std::nullopt;
    }
    // A statement kept prepared on the session is planned once, the first time: its name
    // goes then, with the values.
    QByteArray name;
    if (prepared) {
        name = m_prepared.value(sql);
        if (name.isEmpty()) {
            const QByteArray fresh = "quenta_" + QByteArray::number(m_prepared.size() + 1);
            if (!PQsendPrepare(m_handle, fresh.constData(), statement.constData(),
                               int(values.size()), nullptr)) {
                noteConnectionFailure();
                if (PQstatus(m_handle) == CONNECTION_OK)
                    m_lastError.connectionLost = false;
                return std::nullopt;
            }
            if (!finish())
                return std::nullopt;
            m_prepared.insert(sql, fresh);
            name = fresh;
        }
    }
    // Without parameters, the simple protocol, which also runs several statements; the
    // answer is the last statement's, or the first failure, as PQexec gives it.
    const int sent = !name.isEmpty()
        ? PQsendQueryPrepared(m_handle, name.constData(), int(values.size()), values.data(),
                              nullptr, nullptr, 0)
        : parameters.isEmpty()
        ? PQsendQuery(m_handle, statement.constData())
        : PQsendQueryParams(m_handle, statement.constData(), int(values.size()), nullptr,
                            values.data(), nullptr, nullptr, 0);
    if (!sent) {
        noteConnectionFailure();
        if (PQstatus(m_handle) == CONNECTION_OK)
            m_lastError.connectionLost = false;
        return std::nullopt;
    }
    return finishWithResult(earlier);
}

bool PgConnection::finish()
{
    return finishWithResult().has_value();
}

std::optional<PgResult> PgConnection::finishWithResult(std::vector<PgResult> *earlier)
{
    m_running = true;
    qint64 waited = 0;
    bool told = false;
    pg_result *last = nullptr;
    bool answered = true;
    for (;;) {
        if (!awaitInput(&waited, &told)) {
            answered = false;
            break;
        }
        pg_result *result = PQgetResult(m_handle);
        if (!result)
            break;
        // The simple protocol stops at the first failure: every answer before the last
        // is a success.
        if (earlier && last)
            earlier->emplace_back(last);
        else
            PQclear(last);
        last = result;
        if (PQstatus(m_handle) != CONNECTION_OK)
            break;
    }
    m_running = false;
    if (told) {
        if (auto *notice = waitNotice.load())
            notice(false);
    }
    if (!answered) {
        PQclear(last);
        return std::nullopt;
    }
    if (!checkResult(last)) {
        PQclear(last);
        return std::nullopt;
    }
    return PgResult(last);
}

bool PgConnection::executeStatements(const QString &sql)
{
    return run(sql, {}).has_value();
}

std::optional<PgResult> PgConnection::executeQuery(const QString &sql,
                                                   const PgParameters &parameters)
{
    return run(sql, parameters);
}

std::optional<PgResult> PgConnection::executePrepared(const QString &sql,
                                                      const PgParameters &parameters)
{
    return run(sql, parameters, true);
}

std::optional<std::vector<PgResult>> PgConnection::executeEach(const QString &sql)
{
    std::vector<PgResult> results;
    std::optional<PgResult> last = run(sql, {}, false, &results);
    if (!last)
        return std::nullopt;
    results.push_back(std::move(*last));
    return results;
}

bool PgConnection::executeUpdate(const QString &sql, const PgParameters &parameters)
{
    return run(sql, parameters).has_value();
}

int PgConnection::serverPid() const
{
    return m_handle ? PQbackendPID(m_handle) : 0;
}

QString PgConnection::description() const
{
    if (!m_handle || PQstatus(m_handle) != CONNECTION_OK)
        return m_connectionString;
    return u"%1@%2:%3/%4"_s.arg(fromUtf8(PQuser(m_handle)), fromUtf8(PQhost(m_handle)),
                                fromUtf8(PQport(m_handle)), fromUtf8(PQdb(m_handle)));
}

QString PgConnection::quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(u'"', u"\"\""_s);
    return u'"' + quoted + u'"';
}

bool PgConnection::listen(const QString &channel)
{
    if (!executeStatements(u"LISTEN "_s + quoteIdentifier(channel)))
        return false;
    m_channels.insert(channel);
    return true;
}

bool PgConnection::unlisten(const QString &channel)
{
    if (!executeStatements(u"UNLISTEN "_s + quoteIdentifier(channel)))
        return false;
    m_channels.remove(channel);
    return true;
}

bool PgConnection::notify(const QString &channel, const QString &payload)
{
    return executeUpdate(u"select pg_notify($1, $2)"_s, {channel, payload});
}

int PgConnection::socket() const
{
    return m_handle ? PQsocket(m_handle) : -1;
}

bool PgConnection::consumeInput()
{
    if (!m_handle)
        return false;
    if (PQconsumeInput(m_handle) == 0 || PQstatus(m_handle) != CONNECTION_OK) {
        noteConnectionFailure();
        return false;
    }
    return true;
}

QList<PgNotification> PgConnection::takeNotifications()
{
    QList<PgNotification> notifications;
    if (!m_handle)
        return notifications;
    while (PGnotify *notification = PQnotifies(m_handle)) {
        notifications.append({QString::fromUtf8(notification->relname),
                              QString::fromUtf8(notification->extra), notification->be_pid});
        PQfreemem(notification);
    }
    return notifications;
}

