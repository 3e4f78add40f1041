// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class ReceiptSearchIndex;

// The filling of the search index of a book made before it had one: started once the
// window shows, on a thread of its own, and told to the search fields while it runs
// (the search meanwhile reads the receipts themselves, with the same results).
class SearchIndexStatus : public QObject
{
    Q_OBJECT

public:
    static SearchIndexStatus &shared();

    // Fills the index of the book at `databasePath` unless it is whole already.
    void start(const QString &databasePath);
    // "正在建立搜索索引（45%）…" while the index is being filled; empty otherwise.
    QString text() const { return m_text; }

Q_SIGNALS:
    void textChanged();

private:
    SearchIndexStatus() = default;
    void setText(const QString &text);

    ReceiptSearchIndex *m_index = nullptr;
    QString m_text;
};
