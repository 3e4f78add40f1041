// SPDX-License-Identifier: GPL-3.0-or-later
#include "listkeys.h"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTableView>

#include <algorithm>

namespace {

class ListKeyFilter : public QObject
{
public:
    ListKeyFilter(QLineEdit *searchField, QTableView *table)
        : QObject(table)
        , m_searchField(searchField)
        , m_table(table)
    {
        searchField->installEventFilter(this);
        table->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if (watched == m_searchField && key->key() == Qt::Key_Down && modifiers == Qt::NoModifier) {
            enterTable();
            return true;
        }
        if (watched == m_table && (key->key() == Qt::Key_Home || key->key() == Qt::Key_End)
            && (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier)) {
            goToEnd(key->key() == Qt::Key_End, modifiers == Qt::ShiftModifier);
            return true;
        }
        return false;
    }

private:
    // To the first or the last row, in the column the cursor is in. With Shift the rows
    // from the selection's far end (its anchor) to there are selected, as Shift with the
    // arrows does.
    void goToEnd(bool last, bool extend)
    {
        QAbstractItemModel *model = m_table->model();
        QItemSelectionModel *selection = m_table->selectionModel();
        if (!model || model->rowCount() == 0)
            return;
        const QModelIndex current = m_table->currentIndex();
        const int column = current.isValid() ? current.column() : 0;
        const QModelIndex target = model->index(last ? model->rowCount() - 1 : 0, column);
        if (!extend || !current.isValid()) {
            selection->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect
                                                   | QItemSelectionModel::Rows);
        } else {
            int top = current.row(), bottom = current.row();
            for (const QModelIndex &row : selection->selectedRows()) {
                top = std::min(top, row.row());
                bottom = std::max(bottom, row.row());
            }
            const int anchor = current.row() == top ? bottom : top;
            selection->setCurrentIndex(target, QItemSelectionModel::NoUpdate);
            selection->select(QItemSelection(model->index(std::min(anchor, target.row()), 0),
                                             model->index(std::max(anchor, target.row()), 0)),
                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
        m_table->scrollTo(target);
    }

    void enterTable()
    {
        m_table->setFocus(Qt::TabFocusReason);
        QAbstractItemModel *model = m_table->model();
        if (!model || model->rowCount() == 0 || m_table->selectionModel()->hasSelection())
            return;
        const QModelIndex current = m_table->currentIndex();
        m_table->selectionModel()->setCurrentIndex(
            current.isValid() ? current : model->index(0, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    QLineEdit *m_searchField;
    QTableView *m_table;
};

} // namespace

void ListKeys::install(QLineEdit *searchField, QTableView *table)
{
    new ListKeyFilter(searchField, table);
    // Tab goes from the search field to the rows it filters, not past them to 导出….
    QWidget::setTabOrder(searchField, table);
}
