// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "companystore.h"
#include "printsettings.h"
#include "receipt.h"

#include <QImage>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <optional>

class QPageLayout;
class QPainter;
class QPrinter;

// One print job on receipt paper: the pages, fixed when the job is made. The receipts, the
// header of CompanyStore::company, whether each receipt is voided and was printed before
// (for the 补打 mark) and the print options are all taken then, so a change of the stores
// while a print dialog is open does not reach a job already asked for. Every way a page
// leaves the program draws through paintPages(): a printer, a PDF file, the preview and
// an image. A value; the screens and the command line make one per print.
class PrintJob
{
public:
    enum class Kind { Receipts, AlignmentPage };

    // AppStore::receiptPrint: one page, the blank form when the store holds none.
    static PrintJob currentReceipt(std::optional<PrintOptions> options = std::nullopt);
    // `receipt` as given rather than as stored (the entry form's, before it is saved).
    static PrintJob forReceipt(const std::optional<Receipt> &receipt,
                               std::optional<PrintOptions> options = std::nullopt);
    // The entry form's receipt as its preview shows it: as forReceipt, and where it has no
    // code of its own yet (not saved, or changed since), a stand-in in the code's place,
    // since the paper, printed from the book once it is saved, will have one there. Only
    // drawn: print() refuses such a job.
    static PrintJob formPreview(const Receipt &receipt,
                                std::optional<PrintOptions> options = std::nullopt);
    // The stand-in: the code of `receipt` (the blank form's sample number and today) with
    // a link of zeros, which no book has.
    static QString standInCode(const std::optional<Receipt> &receipt);
    // The receipts of `ids` read from the book, a page each in ascending number order.
    // Nothing, with the reason in *error, when one cannot be read or its amount cannot:
    // a job never goes out short of a receipt, nor with a wrong amount on one.
    static std::optional<PrintJob> forIds(const QStringList &ids, QString *error = nullptr,
                                          std::optional<PrintOptions> options = std::nullopt);
    static PrintJob alignmentPage(const PrintOptions &options);

    Kind kind() const { return m_kind; }
    int pageCount() const;
    // What print queues and PDF viewers call the document: 收据 0000042, 收据 3 张.
    QString documentName() const;
    // The receipts of the job in page order (the blank form as nothing).
    QList<std::optional<Receipt>> receipts() const { return m_receipts; }
    // Whether `page` gets the 补打 mark: the options ask for it and the receipt was
    // printed before.
    bool isReprint(int page) const { return m_reprints.value(page); }
    // The text of the code `page` carries (ReceiptProof), read from the book as the job is
    // made, before any print of it is recorded; empty for none (the options leave it off,
    // the blank form, a receipt not stored or not as stored).
    QString code(int page) const { return m_codes.value(page); }

    // Puts the receipt paper on `printer`: exactly its size, no margins, the painter's
    // origin at the paper's corner. Must come after the target is chosen (a print dialog,
    // setOutputFileName), since switching a QPrinter between a file and a queue resets
    // its paper. A printer that does not take it keeps its own paper, and every page is
    // fitted onto that (fittedNotice() says how).
    void preparePrinter(QPrinter &printer) const;
    // preparePrinter(), every page, then the receipts' prints recorded in their history.
    // A PDF file is written through OutputFile and read back before anything is recorded.
    // False with the reason; a PDF file is then as it was before. When the pages went on
    // other paper than the receipt's, *notice says so, once for the whole job.
    bool print(QPrinter &printer, QString *error = nullptr, QString *notice = nullptr) const;
    // Draws the pages on `printer`, on which `painter` is open, page after page. Records
    // nothing: the preview draws so too.
    void paintPages(QPainter &painter, QPrinter &printer) const;
    // One page as an image at `dpi` dots per inch; a null image for a dpi that is no size.
    QImage image(qreal dpi, int page = 0) const;

    // How much a page is drawn at on paper of `paperSize` points: its own size when it
    // fits, otherwise as large as fits both ways, never on two sheets.
    static qreal fittedScale(const QSizeF &paperSize);
    // What the user is told when a printer, given the receipt paper, reports `layout`:
    // nothing when it is the receipt paper, to within a millimetre each way; otherwise
    // that the receipts were fitted onto the printer's paper, and how to add the size.
    static QString fittedNotice(const QPageLayout &layout);

private:
    PrintJob() = default;
    // What the pages take from the book besides the receipts: their voids, the 补打 marks,
    // their codes.
    void takeFromBook();
    void paintPage(QPainter &painter, const QRectF &target, qreal pixelsPerPoint, int page) const;
    void correctFile(const QPrinter &printer) const;
    // The pages to the PDF file the printer names, corrected and read back whole.
    bool printToFile(QPrinter &printer, QString *error) const;

    Kind m_kind = Kind::Receipts;
    QList<std::optional<Receipt>> m_receipts;
    QList<bool> m_reprints;
    QStringList m_codes;
    bool m_previewOnly = false;
    // Whether a receipt's void could not be read as the job was made: such a job prints
    // nothing, since a voided receipt would go out without its stamp.
    bool m_voidUnknown = false;
    Company m_company;
    PrintOptions m_options;
};
