// SPDX-License-Identifier: GPL-3.0-or-later
#include "searchindexstatus.h"

#include "receiptsearchindex.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

SearchIndexStatus &SearchIndexStatus::shared()
{
    // Parented to the application: the fill is stopped and waited for before it goes.
    static SearchIndexStatus *status = [] {
        auto *made = new SearchIndexStatus;
        made->setParent(QCoreApplication::instance());
        return made;
    }();
    return *status;
}

void SearchIndexStatus::start(const QString &databasePath)
{
    if (m_index)
        return;
    m_index = new ReceiptSearchIndex(databasePath, this);
    connect(m_index, &ReceiptSearchIndex::progressed, this, [this](qint64 done, qint64 total) {
        const qint64 percent = total > 0 ? std::min<qint64>(99, done * 100 / total) : 0;
        setText(u"正在建立搜索索引（%1%）…"_s.arg(percent));
    });
    connect(m_index, &ReceiptSearchIndex::finished, this, [this] { setText({}); });
    m_index->start();
}

void SearchIndexStatus::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    Q_EMIT textChanged();
}
