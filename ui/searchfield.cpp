// SPDX-License-Identifier: GPL-3.0-or-later
#include "searchfield.h"

#include "searchindexstatus.h"

#include <QKeyEvent>

using namespace Qt::StringLiterals;

SearchField::SearchField(QWidget *parent)
    : QLineEdit(parent)
{
    setObjectName(u"searchField"_s);
    setAccessibleName(u"搜索"_s);
    setPlaceholderText(u"搜索单号、交款单位、事由、金额…"_s);
    setClearButtonEnabled(true);
    // Room for the whole placeholder, so the user sees what can be searched for.
    setMinimumWidth(fontMetrics().horizontalAdvance(placeholderText()) + 48);
    // While an older book's search index is being built, searching still works (reading
    // every receipt of the range): the field says why a search may take a moment.
    const auto showStatus = [this] {
        const QString status = SearchIndexStatus::shared().text();
        setPlaceholderText(status.isEmpty() ? u"搜索单号、交款单位、事由、金额…"_s : status);
    };
    connect(&SearchIndexStatus::shared(), &SearchIndexStatus::textChanged, this, showStatus);
    showStatus();
}

void SearchField::keyPressEvent(QKeyEvent *event)
{
    // Esc with text clears it; with none it goes on to the window, as elsewhere.
    if (event->key() == Qt::Key_Escape && !text().isEmpty()) {
        clear();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
