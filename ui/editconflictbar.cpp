// SPDX-License-Identifier: GPL-3.0-or-later
#include "editconflictbar.h"

#include "editrefusal.h"

#include <QAccessible>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

EditConflictBar::EditConflictBar(QWidget *parent)
    : QFrame(parent)
    , m_textLabel(new QLabel(this))
    , m_reopenButton(new QPushButton(u"重新打开此收据(&R)"_s, this))
    , m_saveAsNewButton(new QPushButton(u"另存为新收据(&N)"_s, this))
    , m_restoreTypingButton(new QPushButton(u"换回刚才填写的(&B)"_s, this))
    , m_dismissButton(new QPushButton(u"×"_s, this))
{
    setObjectName(u"editConflictBar"_s);
    setFrameShape(QFrame::StyledPanel);
    setStyleSheet(u"#editConflictBar { background: #fff4ce; border: 1px solid #e0a800; "
                  u"border-radius: 4px; } #editConflictBar QLabel { color: #5c3c00; }"_s);
    m_textLabel->setObjectName(u"editConflictText"_s);
    // The receipt's own texts are quoted in it: never read as markup.
    m_textLabel->setTextFormat(Qt::PlainText);
    m_textLabel->setWordWrap(true);
    m_textLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_reopenButton->setObjectName(u"reopenButton"_s);
    m_reopenButton->setToolTip(u"显示其他电脑保存的这张收据；这里填写的内容留着，可以换回"_s);
    m_saveAsNewButton->setObjectName(u"saveAsNewButton"_s);
    m_saveAsNewButton->setToolTip(u"把这里填写的内容保存为一张新收据（下一个单号），"
                                  u"原收据保持不变"_s);
    m_restoreTypingButton->setObjectName(u"restoreTypingButton"_s);
    m_restoreTypingButton->setToolTip(u"把刚才填写的内容放回表单；保存后会替换其他电脑的修改"_s);
    m_dismissButton->setObjectName(u"dismissButton"_s);
    m_dismissButton->setAccessibleName(u"关闭提示"_s);
    m_dismissButton->setToolTip(u"关闭提示 (Esc)"_s);
    m_dismissButton->setFlat(true);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(12, 6, 6, 6);
    row->addWidget(m_textLabel, 1);
    for (QPushButton *button :
         {m_reopenButton, m_saveAsNewButton, m_restoreTypingButton, m_dismissButton}) {
        row->addWidget(button);
        // Enter takes the choice, as Space does: the cashier's hand is on Enter.
        button->setAutoDefault(true);
        button->installEventFilter(this);
    }
    connect(m_reopenButton, &QPushButton::clicked, this, &EditConflictBar::reopenChosen);
    connect(m_saveAsNewButton, &QPushButton::clicked, this, &EditConflictBar::saveAsNewChosen);
    connect(m_restoreTypingButton, &QPushButton::clicked, this,
            &EditConflictBar::restoreTypingChosen);
    connect(m_dismissButton, &QPushButton::clicked, this, &EditConflictBar::dismiss);
    hide();
}

void EditConflictBar::showRefusal(const EditRefusal &refusal)
{
    QString text = refusal.reason;
    if (!refusal.detail.isEmpty())
        text += u"："_s + refusal.detail;
    text += u"。这里填写的内容还在，没有保存。"_s;
    setText(text);
    m_reopenButton->setVisible(refusal.canReopen());
    m_saveAsNewButton->show();
    m_restoreTypingButton->hide();
    fitText();
    show();
}

void EditConflictBar::showReopened(const QString &receiptNo)
{
    setText(u"已重新打开 No.%1，显示的是现在保存的内容。刚才填写的内容还留着，可以换回。"_s.arg(
        receiptNo));
    m_reopenButton->hide();
    m_saveAsNewButton->hide();
    m_restoreTypingButton->show();
    fitText();
    show();
}

void EditConflictBar::fitText()
{
    // The form gives the bar its width, and a box layout holding it aligned would give it
    // only the height of one line: a text wrapped in two had its second line cut off.
    layout()->invalidate();
    setFixedHeight(layout()->totalHeightForWidth(width()));
}

void EditConflictBar::setText(const QString &text)
{
    m_textLabel->setText(text);
    setAccessibleName(text);
    // Said at once, wherever the keyboard is: the cashier may be typing on.
    QAccessibleEvent alert(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

QString EditConflictBar::text() const
{
    return m_textLabel->text();
}

void EditConflictBar::focusChoice()
{
    for (QPushButton *button : {m_reopenButton, m_saveAsNewButton, m_restoreTypingButton}) {
        if (button->isVisibleTo(this)) {
            button->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

void EditConflictBar::dismiss()
{
    hide();
    Q_EMIT dismissed();
}

bool EditConflictBar::eventFilter(QObject *watched, QEvent *event)
{
    // Esc is the form's 取消修改 everywhere else, which would ask to give up the typing;
    // here it only closes the bar.
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            event->accept();
            if (event->type() == QEvent::KeyPress)
                dismiss();
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}
