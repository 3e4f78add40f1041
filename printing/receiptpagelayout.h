// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "companystore.h"
#include "printsettings.h"
#include "receipt.h"

#include <QFont>
#include <QLineF>
#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>

class QPainter;

// What and where to draw beyond the receipt itself: the user's print settings, and
// whether this receipt was printed before. The default is the full page, unmoved.
struct ReceiptPageOptions
{
    QPointF offset; // points, added to every position; right and down are positive
    bool valuesOnly = false;
    bool sideLabel = true;
    bool fixedRemark = false;
    bool reprintMark = false; // this page is a reprint and gets the mark
    // A page of values only keeps the ¥ before the figures (the full page always has it).
    bool yuanSign = true;
    // A page of values only leaves the number off for forms that carry their own.
    bool number = true;
    // The text of the receipt's code (ReceiptProof), empty for none; the top-left corner
    // of its square, quiet zone included, and its side, in points before the offset.
    QString code = {};
    QPointF codeAt = {};
    qreal codeSide = 0;

    // From the settings in millimetres; `printedBefore` says whether the history has a
    // print of the receipt, `code` is the text of its code (drawn when the settings ask
    // for it).
    static ReceiptPageOptions from(const PrintOptions &settings, bool printedBefore = false,
                                   const QString &code = {});
};

// Works out where every text, rule and the table border of one printed receipt go on a
// page rectangle given in points, and draws them on any QPainter. The widget on screen,
// the print job and the image renderer all draw through this class, so what the tests
// measure here is what the printer gets. A value: build one per drawing.
class ReceiptPageLayout
{
public:
    // Every text on the page. Fixed captions have their own entry so that a test (or a
    // reader of the code) can find each one without matching on its words.
    enum class Item {
        Title,
        Number,
        Date,
        PayerLabel,
        Payer,
        Reason1Label,
        Reason1,
        Reason2Label,
        Reason2,
        RemarkLabel,
        Remark,
        CapitalsLabel,
        Capitals,
        YuanSign,
        Figures,
        PaytypeLabel,
        Paytype,
        PayeeLabel,
        Payee,
        ApproveLabel,
        Approve,
        AccountantLabel,
        Accountant,
        Colon,
        SideLabel, // one entry per character, top to bottom
        VoidStamp, // 作废 across the table of a voided receipt, turned; drawn last
        FixedRemark, // the header's fixed remark, one line under the footer
        ReprintMark, // 补打 beside the number of a receipt printed before
    };

    using Options = ReceiptPageOptions;

    enum class FontRole { Caption, Subheadline, Title };

    // One line as drawn. A text too long for its cell is drawn smaller first, then on two
    // lines (an item per line, top to bottom, sharing the cell), and only then cut short.
    struct TextItem
    {
        Item item;
        QString text; // as drawn: one line, ending in "…" when the rest did not fit
        QFont font; // by pixel size: smaller than the role's font when the text was shrunk
        QRectF rect; // the drawn line: advance width by line height
        QRectF cell; // the space the text is allowed to take, all its lines together
        int line = 0; // which line of its text, from 0
        int lineCount = 1;
        bool elided = false;
        // Degrees clockwise about the centre of rect; only the stamp is turned. Its cell is
        // the upright box around it as drawn, frame included.
        qreal angle = 0;
    };

    // How a text is made to fit its cell.
    enum class Fitting {
        Fixed, // as given, cut short if it must (captions, each character of the side label)
        OneLine, // shrinks, then is cut short
        TwoLines, // shrinks, breaks onto a second line, then is cut short
        Whole, // an amount, the number: shrinks further rather than lose a character
    };

    // The space the page keeps around its parts where the layout asks for "some room"
    // rather than a measure: page edge, header top, between the three blocks, footer foot.
    static constexpr qreal defaultSpace = 8;

    ReceiptPageLayout(const QRectF &pageRect, const std::optional<Receipt> &receipt,
                      const Company &company, const Options &options = {});

    QRectF pageRect() const { return m_pageRect; }
    // The outer edge of the 1-wide border around the table; the line lies inside it.
    QRectF tableRect() const { return m_tableRect; }
    const QList<TextItem> &textItems() const { return m_texts; }
    // Rules under the value cells, as drawn (centre line of a hairline).
    const QList<QLineF> &rules() const { return m_rules; }
    // False for a page of values only, which has no table border.
    bool hasBorder() const { return m_border; }
    // Texts the offset would have pushed off the page, in layout order: they were moved
    // back onto its edge instead, so that every value still prints.
    const QList<Item> &displacedItems() const { return m_displaced; }
    // The square of the receipt's code, quiet zone included (moved by the offset, and back
    // onto the page where that took it off), and its dark modules; empty without a code.
    QRectF codeRect() const { return m_codeRect; }
    const QPainterPath &codeModules() const { return m_codeModules; }
    // What the code's square covers, by the names the user reads (交款单位, 表格 …), each
    // once: nothing where the form leaves it room.
    QStringList partsUnderCode() const;
    // What the user calls the field: 交款单位, 金额（小写）…
    static QString itemName(Item item);
    // The texts that carry the receipt's data, as opposed to the form's captions.
    static bool isValue(Item item);

    // The first text of that kind (its first line), or nullptr.
    const TextItem *find(Item item) const;
    QList<TextItem> findAll(Item item) const;
    // The first text of that kind as drawn, its lines joined by "\n".
    QString text(Item item) const;

    void paint(QPainter &painter) const;

    // Fonts are set by pixel size, and the page is laid out in points with one point per
    // pixel, so the same font measures the same on screen, on a 1200 dpi printer (whose
    // painter is scaled) and in an image: a point size would grow with the device's dpi.
    static QFont font(FontRole role);
    // Two decimals, a point, no grouping, a leading minus: the amount rounded at the fen
    // as its decimal text is (2.675 prints 2.68), as every total counts it.
    static QString figuresText(double total);
    // The lines of the vertical label, top to bottom: one character as the user sees it
    // (an emoji with its modifiers, a letter with its accents) per line.
    static QStringList verticalLabelLines(const QString &label);

private:
    // `alignment` places the lines across the cell, and down it either at the bottom (text
    // standing on a rule) or in the middle; one shrunk line keeps the baseline a line in
    // `font` would have there.
    void addText(Item item, const QString &text, const QFont &font, const QRectF &cell,
                 Qt::Alignment alignment, Fitting fitting = Fitting::Fixed);

    // The stamp of a voided receipt over the table, as large as `room` lets it be.
    void addVoidStamp(const QRectF &room);
    // Moves everything by the offset, then brings back what left the page.
    void applyOffset(const QPointF &offset);
    // The code's square where the options put it, moved by the offset, kept on the page.
    void addCode(const Options &options);

    QRectF m_pageRect;
    QRectF m_tableRect;
    QList<TextItem> m_texts;
    QList<QLineF> m_rules;
    QList<Item> m_displaced;
    bool m_border = true;
    QRectF m_codeRect;
    QPainterPath m_codeModules;
};

// Draws one receipt filling pageRect (in the painter's current coordinates, taken as
// points): white background, black text, the bordered table.
void paintReceiptPage(QPainter &painter, const QRectF &pageRect,
                      const std::optional<Receipt> &receipt, const Company &company,
                      const ReceiptPageLayout::Options &options = {});
