// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Why a statement or an open failed, on either engine: what it means (kind()), told to
// the user in Chinese (message()), and the engine's own words and code (detail(), code())
// for a diagnostic. Each engine gives its failures their kind in its own file; nothing
// above this layer reads an engine's codes.
class DatabaseError
{
public:
    enum class Kind {
        None,
        // Another program holds the book (a file's lock past the busy interval, a server's
        // conflicting transaction): the same work may succeed later.
        HeldElsewhere,
        // Another statement of this very connection holds it.
        HeldHere,
        // A read that gave way to a writer of this program, or one given up.
        Interrupted,
        Damaged,
        DiskFull,
        ReadOnly,
        CannotOpen,
        ReadWrite,
        // The statement broke a rule of its table (a number stored twice).
        Conflict,
        // Refused for want of rights (a desk's role).
        NoRight,
        MissingTable,
        MissingColumn,
        // A function or procedure the book does not have (one from before them).
        MissingRoutine,
        // The connection to a server is gone (server stopped, network lost).
        ConnectionLost,
        // A server's row held by another session longer than a desk waits for it.
        RowHeldTooLong,
        // A server book whose desks' lock another session holds exclusively (a restore).
        BookHeldExclusively,
        // A transaction the engine ended without writing (a COMMIT answered ROLLBACK).
        RolledBack,
        // The book's rule for closed days refused the write: a receipt of a closed day
        // changed or removed, or one put into a closed day (the triggers' quenta_day_closed).
        DayClosed,
        // The paper books refused the number: its series has books, and none of them not
        // yet returned holds it (the triggers' quenta_outside_paper_books).
        OutsidePaperBooks,
        // A registered paper book changed or removed, or its return undone (the triggers'
        // quenta_paper_book_final).
        PaperBookFinal,
        Other,
    };

    DatabaseError() = default;
    // `name` is the table or column a missing one names; `message`, when given, is told
    // instead of the kind's own words.
    DatabaseError(Kind kind, const QString &detail, const QString &code, const QString &name = {},
                  const QString &message = {});

    Kind kind() const { return m_kind; }
    bool isError() const { return m_kind != Kind::None; }
    // Another's lock stopped the statement, which tells nothing about the book itself.
    bool isLock() const { return m_kind == Kind::HeldElsewhere || m_kind == Kind::HeldHere; }
    // What the failure means for the user, in Chinese.
    QString message() const;
    // The engine's own message, and its code ("SQLite 5", "SQLSTATE 40001").
    const QString &detail() const { return m_detail; }
    const QString &code() const { return m_code; }

private:
    Kind m_kind = Kind::None;
    QString m_detail;
    QString m_code;
    QString m_name;
    QString m_message;
};
