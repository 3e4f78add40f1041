// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QSet>
#include <QString>
#include <QWidget>

#include <memory>

class LookupStoreBase;
class QLineEdit;
class QPushButton;
class QTableView;
class Toast;

// One entry of any lookup list as the editor sees it: the value is `content`, or
// `userName` for the system users.
struct LookupRow
{
    QString id;
    qint64 index = 0;
    QString value;
};

// The editor's hold on one typed lookup store. The stores are templates over their record
// type and a QObject cannot be one, so the editor talks to them through this.
class LookupListAdapter
{
public:
    virtual ~LookupListAdapter() = default;

    virtual LookupStoreBase &store() const = 0;
    virtual QList<LookupRow> rows() const = 0;
    virtual bool contains(const QString &value) const = 0;
    virtual bool insert(const QString &id, const QString &value) = 0;
    virtual bool update(const QString &id, const QString &value) = 0;
    virtual bool remove(const QSet<QString> &ids) = 0;
    // Rearranges the store's records: position i takes the record now at order[i]. The
    // records move whole, so an account keeps its password, power and status.
    virtual void reorder(const QList<qsizetype> &order) = 0;
};

// The two columns (序号, the value) over a store's datas. Sorting rearranges the store's
// own list rather than a proxy: the store's order is what the screen shows, and the next
// reload puts the rows back in load order.
class LookupTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { IndexColumn, ValueColumn, ColumnCount };
    static constexpr int IdRole = Qt::UserRole;

    LookupTableModel(LookupListAdapter *adapter, const QString &label, QObject *parent);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    const QList<LookupRow> &rows() const { return m_rows; }

private:
    void reload();

    LookupListAdapter *m_adapter;
    QString m_label;
    QList<LookupRow> m_rows;
};

// The settings screen of one lookup list: add, rename and delete its entries. Owned by
// the window's detail area; the store and its records belong to the application.
class LookupEditorView : public QWidget
{
    Q_OBJECT

public:
    // `label` names the list (交款单位): it titles the field and the value column and
    // makes the empty-field message.
    LookupEditorView(const QString &label, std::unique_ptr<LookupListAdapter> adapter,
                     QWidget *parent);
    ~LookupEditorView() override;

    // Puts the cursor in the field, where a new entry is typed.
    void focusField();

private:
    void add();
    void rename();
    void deleteSelection();
    void selectionChanged();
    void restoreSelection();
    void setSelectedId(const QString &id);
    void finishChange();
    QString content() const;

    std::unique_ptr<LookupListAdapter> m_adapter;
    QString m_label;
    LookupTableModel *m_model;
    QPushButton *m_addButton;
    QPushButton *m_editButton;
    QPushButton *m_deleteButton;
    QLineEdit *m_contentLineEdit;
    QTableView *m_tableView;
    Toast *m_errorToast;

    QString m_selectedId;
    // The ids of the highlighted rows. Kept by id, not by row, because every change and
    // every sort rebuilds the rows; the highlight is put back from here.
    QSet<QString> m_selection;
    bool m_restoringSelection = false;
};

class PayerView : public LookupEditorView
{
    Q_OBJECT
public:
    explicit PayerView(QWidget *parent);
};

class Reason1View : public LookupEditorView
{
    Q_OBJECT
public:
    explicit Reason1View(QWidget *parent);
};

class Reason2View : public LookupEditorView
{
    Q_OBJECT
public:
    explicit Reason2View(QWidget *parent);
};

class RemarkView : public LookupEditorView
{
    Q_OBJECT
public:
    explicit RemarkView(QWidget *parent);
};

class PaytypeView : public LookupEditorView
{
    Q_OBJECT
public:
    explicit PaytypeView(QWidget *parent);
};

class AccountView : public LookupEditorView
{
    Q_OBJECT
public:
    explicit AccountView(QWidget *parent);
};
