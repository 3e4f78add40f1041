// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiptnoview.h"

#include "appstore.h"
#include "keyboard.h"
#include "receiptnostore.h"
#include "seriesdialog.h"
#include "seriesstore.h"
#include "settingsscreen.h"
#include "toast.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValidator>

#include <functional>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Counters are identifiers, not amounts: written without group separators, though a
// typed separator is still understood.
QLocale numberLocale()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

std::optional<qint64> parseWholeNumber(const QString &text)
{
    bool ok = false;
    const qint64 value = numberLocale().toLongLong(text.trimmed(), &ok);
    return ok ? std::optional(value) : std::nullopt;
}

// Accepts the whole numbers a qint64 holds. A keystroke that would make anything else,
// including a number past the largest 64-bit value, is refused. A half-typed field (empty,
// a lone minus sign) is let through while typing and falls back to the stored value when
// the user leaves it.
class WholeNumberValidator : public QValidator
{
public:
    WholeNumberValidator(std::function<qint64()> storedValue, QObject *parent)
        : QValidator(parent)
        , m_storedValue(std::move(storedValue))
    { }

    State validate(QString &input, int &) const override
    {
        const QString text = input.trimmed();
        if (text.isEmpty() || text == numberLocale().negativeSign())
            return Intermediate;
        return parseWholeNumber(text) ? Acceptable : Invalid;
    }

    void fixup(QString &input) const override
    {
        if (!parseWholeNumber(input))
            input = numberLocale().toString(m_storedValue());
    }

private:
    std::function<qint64()> m_storedValue;
};

void showNumber(QLineEdit *lineEdit, qint64 value)
{
    SettingsScreen::showText(lineEdit, numberLocale().toString(value));
}

} // namespace

ReceiptNoView::ReceiptNoView(QWidget *parent)
    : QWidget(parent)
    , m_saveButton(
          SettingsScreen::createButton(u"square.and.pencil"_s, u"修改"_s, u"saveButton"_s, this))
    , m_currNumLineEdit(new QLineEdit(this))
    , m_numLongLineEdit(new QLineEdit(this))
    , m_previewLabel(new QLabel(this))
    , m_successToast(new Toast(Toast::Kind::Success, SettingsScreen::toastDuration, this))
    , m_errorToast(new Toast(Toast::Kind::Error, SettingsScreen::toastDuration, this))
{
    setObjectName(u"ReceiptNoView"_s);
    m_currNumLineEdit->setObjectName(u"currNumLineEdit"_s);
    m_numLongLineEdit->setObjectName(u"numLongLineEdit"_s);
    m_previewLabel->setObjectName(u"previewLabel"_s);
    m_currNumLineEdit->setAccessibleName(u"当前单号"_s);
    m_numLongLineEdit->setAccessibleName(u"单号长度"_s);
    Keyboard::setShortcut(m_saveButton, QKeySequence::Save);
    m_previewLabel->setTextFormat(Qt::RichText);
    m_previewLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Numbers of a few digits: a field across the whole window would only look empty.
    m_currNumLineEdit->setMaximumWidth(260);
    m_numLongLineEdit->setMaximumWidth(260);

    m_currNumLineEdit->setValidator(new WholeNumberValidator(
        [] { return ReceiptNoStore::shared().receiptNoSetting().currNum; }, m_currNumLineEdit));
    m_numLongLineEdit->setValidator(new WholeNumberValidator(
        [] { return ReceiptNoStore::shared().receiptNoSetting().numLong; }, m_numLongLineEdit));

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_saveButton);
    buttonRow->addStretch();

    auto *fields = new QFormLayout;
    fields->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    fields->addRow(u"当前单号"_s, m_currNumLineEdit);
    fields->addRow(u"单号长度"_s, m_numLongLineEdit);
    auto *previewTitle = new QLabel(u"单号预览"_s, this);
    fields->addRow(previewTitle, m_previewLabel);
    // Read-only, so not a tab stop; the buddy still tells a screen reader what the
    // number is.
    previewTitle->setBuddy(m_previewLabel);

    auto *column = new QVBoxLayout(this);
    column->addLayout(buttonRow);
    column->addLayout(fields);
    column->addSpacing(16);
    column->addWidget(new SeriesSection(this));
    column->addStretch();

    showSetting();
    showPreview();
    // The form puts a label at the top of its row; this row is as tall as the title-size
    // number, so its label is made as tall and centred to stand beside the digits.
    previewTitle->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    previewTitle->setMinimumHeight(m_previewLabel->sizeHint().height());

    connect(m_currNumLineEdit, &QLineEdit::editingFinished, this,
            [this] { commit(Field::CurrNum); });
    connect(m_numLongLineEdit, &QLineEdit::editingFinished, this,
            [this] { commit(Field::NumLong); });
    connect(&ReceiptNoStore::shared(), &ReceiptNoStore::receiptNoSettingChanged, this,
            &ReceiptNoView::showSetting);
    connect(&AppStore::shared(), &AppStore::receiptEditChanged, this, &ReceiptNoView::showPreview);
    connect(m_currNumLineEdit, &QLineEdit::textEdited, this, &ReceiptNoView::showPreview);
    connect(m_numLongLineEdit, &QLineEdit::textEdited, this, &ReceiptNoView::showPreview);
    connect(m_saveButton, &QPushButton::clicked, this, &ReceiptNoView::save);
}

bool ReceiptNoView::commit(Field field)
{
    QLineEdit *lineEdit = field == Field::CurrNum ? m_currNumLineEdit : m_numLongLineEdit;
    const std::optional<qint64> typed = parseWholeNumber(lineEdit->text());
    ReceiptNoStore &store = ReceiptNoStore::shared();
    ReceiptNoSetting setting = store.receiptNoSetting();
    qint64 &target = field == Field::CurrNum ? setting.currNum : setting.numLong;
    // Leaving a field without changing its value is no change and runs nothing; the
    // field goes back to the stored value's own form (007 shows as 7). Only this field:
    // the other may hold a value typed but not yet taken.
    if (!typed || *typed == target) {
        showNumber(lineEdit, target);
        return true;
    }
    // A value out of range is refused and said, never quietly replaced: a number longer
    // than 18 digits runs over the receipt's title, and 0 or less is no receipt number.
    const bool inRange = field == Field::CurrNum
        ? *typed >= 1
        : *typed >= 1 && *typed <= ReceiptNoStore::longestNumberLength;
    if (!inRange) {
        m_errorToast->show(field == Field::CurrNum ? u"当前单号必须大于 0"_s
                                                   : u"单号长度必须在 1 到 %1 之间"_s.arg(
                                                       ReceiptNoStore::longestNumberLength));
        showNumber(lineEdit, target);
        showPreview();
        return false;
    }
    target = *typed;
    store.setReceiptNoSetting(setting);

    // nextReceiptNo may itself move the counter past taken numbers or lengthen the number
    // by one digit; each such change is a new value of a field and runs its action again,
    // until a run leaves both values as they were.
    for (;;) {
        const ReceiptNoSetting before = store.receiptNoSetting();
        store.nextReceiptNo(ReceiptNoStore::Counter::AsSet);
        const ReceiptNoSetting after = store.receiptNoSetting();
        if (after.currNum == before.currNum && after.numLong == before.numLong)
            break;
    }
    return true;
}

void ReceiptNoView::showSetting()
{
    const ReceiptNoSetting setting = ReceiptNoStore::shared().receiptNoSetting();
    showNumber(m_currNumLineEdit, setting.currNum);
    showNumber(m_numLongLineEdit, setting.numLong);
}

void ReceiptNoView::showPreview()
{
    // While a field is being typed in, the number it would give; otherwise the number the
    // next receipt gets (which may have moved past taken ones).
    ReceiptNoSetting typed = ReceiptNoStore::shared().receiptNoSetting();
    // The form may be numbering another series: this screen's number is the book's own.
    QString number = ReceiptSeriesStore::shared().current().isEmpty()
        ? AppStore::shared().receiptEdit().receiptNo
        : ReceiptNoStore::receiptNumberText(typed);
    const std::optional<qint64> currNum = parseWholeNumber(m_currNumLineEdit->text());
    const std::optional<qint64> numLong = parseWholeNumber(m_numLongLineEdit->text());
    if (currNum && numLong && (*currNum != typed.currNum || *numLong != typed.numLong)
        && *currNum >= 1 && *numLong >= 1 && *numLong <= ReceiptNoStore::longestNumberLength) {
        typed.currNum = *currNum;
        typed.numLong = *numLong;
        number = ReceiptNoStore::receiptNumberText(typed);
    }
    const qreal titleSize = font().pointSizeF() * 2;
    m_previewLabel->setText(u"No.<span style=\"color:#e0262b; font-size:%1pt\">%2</span>"_s.arg(
        QString::number(titleSize), number.toHtmlEscaped()));
}

void ReceiptNoView::save()
{
    // Ctrl+S saves without leaving the field typed in, so what it holds is taken first,
    // as leaving it would have; a field already taken is no change.
    if (!commit(Field::CurrNum) || !commit(Field::NumLong))
        return;
    ReceiptNoStore &store = ReceiptNoStore::shared();
    store.nextReceiptNo(ReceiptNoStore::Counter::AsSet);
    if (store.status() != ReceiptNoStore::Status::Ready)
        m_errorToast->show(ReceiptNoStore::statusText(store.status()));
    else if (store.saveSetting())
        m_successToast->show(u"修改成功"_s);
    else
        m_errorToast->show(u"保存失败"_s);
}
