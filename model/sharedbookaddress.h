// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// Where a shared book is, as the window's connection dialog asks for it: server, port,
// database, user and how the connection is encrypted. Turned into the postgresql:// URI the
// program opens, which never holds a password; the URI of the book chosen last is kept in the
// preferences for the window's next start.
struct SharedBookAddress
{
    // A host name, an address (IPv6 without brackets) or the folder of a local socket.
    QString host;
    int port = 5432;
    QString database;
    QString user;
    // libpq's sslmode: disable, prefer, require or verify-full.
    QString sslMode = QStringLiteral("prefer");

    // Every part percent-encoded, so that a name with @, /, ?, spaces or Chinese in it
    // stays that name.
    QString uri() const;
    // The parts of a URI uri() made (or one like it); nothing for what is no server book.
    static std::optional<SharedBookAddress> fromUri(const QString &uri);

    bool operator==(const SharedBookAddress &) const = default;
};

namespace SharedBookAddresses {

// Connects to the book at `uri` (with `password` when one is given) and reads its schema
// version, as the program does at start. False with the reason in Chinese, for a user, in
// `error`: no server there, a password wanted or wrong, no such database, or a database
// that is no shared book. *passwordFailure, when given, says whether a password was wanted
// or wrong (another password may then help).
bool check(const QString &uri, const QString &password, QString *error,
           bool *passwordFailure = nullptr);

// The password for the shared book this program opens, for this run only: kept in memory,
// never written anywhere.
void usePassword(const QString &password);

// The shared book the window opens when no book is named on the command line or in
// QUENTA_BOOK; empty for the book on this computer.
QString remembered();
void remember(const QString &uri);
void forget();

// The book file the window left for a shared book, when it was one named with --book rather
// than the book in the documents folder: 使用本机账本 goes back to it. Empty when there is
// none, or the file is gone.
QString localBook();
// Keeps `path` as that file; the book in the documents folder (or none) forgets it.
void rememberLocalBook(const QString &path);

} // namespace SharedBookAddresses
