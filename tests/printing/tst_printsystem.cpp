// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstore.h"
#include "companystore.h"
#include "printsettings.h"
#include "receiptpagelayout.h"
#include "receiptprinter.h"
#include "testsupport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPrinter>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <optional>

#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Item = ReceiptPageLayout::Item;

// A receipt through a real print system: a cupsd of the test's own (a child process on a
// unix socket, CUPS_SERVER pointing libcups and so Qt at it) with cups-pdf queues. The PDF
// that comes out went through CUPS's filters and Ghostscript: it shows the paper size CUPS
// chose and where the ink lands. cups-pdf writes to its configured Out folder, named after
// the job's title (a receipt number drawn at random, so runs at once never share a file).
// Its backend is root's only: the test is skipped unless run as root with the packages
// (scripts/setup.sh installs cups and printer-driver-cups-pdf).

namespace {

const QString queueName = u"quenta-receipts"_s;
// A queue whose driver knows no custom sizes, as many printers' drivers do: A4 and the
// other sizes it lists, nothing else.
const QString fixedQueueName = u"quenta-fixed-sizes"_s;
// What the README tells an administrator to run on such a queue's PPD to add the receipt
// paper (the sed expressions, word for word).
const QStringList addReceiptPaper = {
    u"-e"_s,
    u"/^\\*DefaultPageSize:/a *PageSize Receipt/Receipt 241x93mm: \"<</PageSize[683 264]/ImagingBBox null>>setpagedevice\""_s,
    u"-e"_s,
    u"/^\\*DefaultPageRegion:/a *PageRegion Receipt/Receipt 241x93mm: \"<</PageSize[683 264]/ImagingBBox null>>setpagedevice\""_s,
    u"-e"_s,
    u"/^\\*DefaultImageableArea:/a *ImageableArea Receipt/Receipt 241x93mm: \"0 0 683 264\""_s,
    u"-e"_s,
    u"/^\\*DefaultPaperDimension:/a *PaperDimension Receipt/Receipt 241x93mm: \"683 264\""_s,
};
// Generous: a loaded CI machine runs the filters and Ghostscript slowly.
constexpr int jobTimeoutMs = 40000;
constexpr double pointsPerMm = 72.0 / 25.4;

QString findTool(const QString &name)
{
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(name, {u"/usr/sbin"_s, u"/sbin"_s, u"/usr/bin"_s});
    return found;
}

// Runs a tool of CUPS or poppler in the C locale, whose messages the test reads; its
// standard output and error together go to `out`.
Run runTool(const QString &program, const QStringList &arguments, int timeoutMs = 30000)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LC_ALL"_s, u"C"_s);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Run run;
    if (!process.waitForStarted(timeoutMs) || !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        run.out = program + u": did not finish"_s;
        return run;
    }
    run.out = QString::fromLocal8Bit(process.readAll());
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

// What a failure message shows of cupsd's log: its errors ("E [") and the last of what
// it said about the job, which includes what the filters and the backend wrote.
QString excerpt(const QString &text)
{
    QStringList shown;
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
        // The environment and arguments of every filter: long, and the same each time.
        if (line.contains(u"envp["_s) || line.contains(u"argv["_s))
            continue;
        if (line.startsWith(u"E ["_s) || line.contains(u"[Job "_s))
            shown.append(line);
    }
    return shown.mid(std::max<qsizetype>(0, shown.size() - 60)).join(u'\n');
}

// Where cups-pdf puts the jobs of the user the test runs as: the Out setting of its
// configuration with ${HOME} and ${USER} filled in, or cups-pdf's own default.
QString cupsPdfOutputFolder()
{
    QString out = u"/var/spool/cups-pdf/${USER}"_s;
    static const QRegularExpression outLine(u"^\\s*Out\\s+(\\S.*?)\\s*$"_s);
    for (const QString &line :
         QString::fromUtf8(fileBytes(u"/etc/cups/cups-pdf.conf"_s)).split(u'\n')) {
        const auto match = outLine.match(line);
        if (match.hasMatch())
            out = match.captured(1);
    }
    const passwd *user = getpwuid(geteuid());
    if (!user)
        return {};
    out.replace(u"${HOME}"_s, QFile::decodeName(user->pw_dir));
    out.replace(u"${USER}"_s, QFile::decodeName(user->pw_name));
    return QDir::cleanPath(out);
}

// A cupsd of the test's own, started in the foreground as a child process and stopped
// when this goes away. A crash of the test takes it down too (the parent-death signal).
class PrintSystem
{
public:
    ~PrintSystem() { stop(); }

    // Empty when it runs and answers on its socket; otherwise what went wrong, and log()
    // tells more.
    QString start(const QString &cupsd, const QString &lpstat)
    {
        m_lpstat = lpstat;
        // Under /tmp rather than a TMPDIR that may lie in a folder only its owner can
        // enter: the filters run as the print system's user (lp) and read the spool.
        const QString base = QFileInfo(u"/tmp"_s).isDir() ? u"/tmp"_s : QDir::tempPath();
        m_dir = std::make_unique<QTemporaryDir>(base + u"/quenta-cups-XXXXXX"_s);
        if (!m_dir->isValid())
            return u"no temporary folder"_s;
        QFile::setPermissions(m_dir->path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                  | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                  | QFile::ExeOther);
        const QDir dir(m_dir->path());
        dir.mkpath(u"conf"_s);
        dir.mkpath(u"log"_s);
        // Root's only: cupsd asks no one for a password, so no one else may reach it.
        dir.mkpath(u"socket"_s);
        QFile::setPermissions(dir.filePath(u"socket"_s),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // cupsd makes the spool, cache and state folders itself, owned as it wants them.
        const QString files = u"ServerRoot %1/conf\nRequestRoot %1/spool\nCacheDir %1/cache\n"
                              u"StateDir %1/state\nErrorLog %1/log/error_log\n"
                              u"AccessLog %1/log/access_log\nPageLog %1/log/page_log\n"
                              u"Printcap %1/printcap\nFileDevice No\n"_s.arg(m_dir->path());
        const QString conf
            = u"LogLevel debug\nListen %1\nBrowsing No\nBrowseLocalProtocols none\n"
              u"WebInterface No\nDefaultAuthType None\n"
              u"<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
              u"<Policy default>\n  JobPrivateAccess all\n  JobPrivateValues none\n"
              u"  SubscriptionPrivateAccess all\n  SubscriptionPrivateValues none\n"
              u"  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n"_s.arg(socketPath());
        const QString filesPath = dir.filePath(u"conf/cups-files.conf"_s);
        const QString confPath = dir.filePath(u"conf/cupsd.conf"_s);
        if (!writeFile(filesPath, files.toUtf8()) || !writeFile(confPath, conf.toUtf8()))
            return u"cannot write the configuration"_s;

        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->setStandardOutputFile(dir.filePath(u"log/cupsd.out"_s));
        m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process->start(cupsd, {u"-f"_s, u"-c"_s, confPath, u"-s"_s, filesPath});
        if (!m_process->waitForStarted(10000))
            return u"cupsd did not start: "_s + m_process->errorString();

        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 15000) {
            if (m_process->state() != QProcess::Running)
                return u"cupsd stopped at once"_s;
            // lpstat says so, and exits with 0 either way.
            if (QFileInfo::exists(socketPath())
                && runTool(m_lpstat, {u"-h"_s, socketPath(), u"-r"_s}).out.trimmed()
                    == u"scheduler is running"_s)
                return {};
            QThread::msleep(100);
        }
        return u"cupsd does not answer on its socket"_s;
    }

    void stop()
    {
        if (!m_process || m_process->state() == QProcess::NotRunning)
            return;
        m_process->terminate();
        if (!m_process->waitForFinished(15000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }

    QString socketPath() const { return m_dir->filePath(u"socket/cups.sock"_s); }
    QString filePath(const QString &name) const { return m_dir->filePath(name); }

    // cupsd's error log and what it wrote to its terminal.
    QString log() const
    {
        return excerpt(QString::fromUtf8(fileBytes(m_dir->filePath(u"log/error_log"_s)))) + u'\n'
            + QString::fromUtf8(fileBytes(m_dir->filePath(u"log/cupsd.out"_s)));
    }

private:
    QString m_lpstat;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
};

// The pixels of `rect` (points, which are pixels at 72 dpi) darker than mid grey, and the
// darkest grey among them all.
struct Ink
{
    int dark = 0;
    int darkest = 255;
};

Ink inkIn(const QImage &page, const QRectF &rect)
{
    const QRect area = rect.toAlignedRect() & page.rect();
    Ink ink;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const int grey = qGray(page.pixel(x, y));
            ink.dark += grey < 128;
            ink.darkest = std::min(ink.darkest, grey);
        }
    }
    return ink;
}

} // namespace

class tst_PrintSystem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup() { m_environment.reset(); }
    void receiptThroughQueue();
    void fittedOnOtherPaper();

private:
    // Prints the stored receipt on `queue` as the window does, waits for the job to end,
    // and gives the one PDF cups-pdf wrote for it in *pdf; the user is told `notice`
    // (empty: nothing).
    void printThrough(const QString &queue, const QString &notice, QString *pdf);
    // One page of `mm` (to half a millimetre), with ink along the four edges of the table's
    // border where the layout puts it drawn at `scale` from the paper's corner, and none
    // above the table left of the title.
    void pageAsLaidOut(const QString &pdf, const QSizeF &mm, qreal scale);
    // Adds a cups-pdf queue named `queue` with the driver `ppd`.
    void addQueue(const QString &queue, const QString &ppd);

    std::unique_ptr<TestEnvironment> m_environment;
    QString m_receiptNo;
    QString m_id;
    QString m_lpstat;
    QString m_lpadmin;
    QString m_fixedPpd;
    QString m_pdfinfo;
    QString m_pdftoppm;
    QString m_outputFolder;
    QStringList m_written; // PDFs cups-pdf wrote for this run, deleted at the end
    std::unique_ptr<PrintSystem> m_system;
};

void tst_PrintSystem::initTestCase()
{
    if (geteuid() != 0)
        QSKIP("the cups-pdf backend runs only under a cupsd started as root; run as root");
    const QString cupsd = findTool(u"cupsd"_s);
    const QString lpadmin = findTool(u"lpadmin"_s);
    m_lpstat = findTool(u"lpstat"_s);
    m_pdfinfo = findTool(u"pdfinfo"_s);
    m_pdftoppm = findTool(u"pdftoppm"_s);
    const QString ppd = u"/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd"_s;
    if (cupsd.isEmpty() || lpadmin.isEmpty() || m_lpstat.isEmpty()
        || !QFileInfo::exists(u"/usr/lib/cups/backend/cups-pdf"_s) || !QFileInfo::exists(ppd))
        QSKIP("cups, cups-client and printer-driver-cups-pdf are not installed "
              "(scripts/setup.sh installs them)");
    if (m_pdfinfo.isEmpty() || m_pdftoppm.isEmpty())
        QSKIP("pdfinfo and pdftoppm (poppler-utils) are not installed");

    m_outputFolder = cupsPdfOutputFolder();
    QVERIFY2(!m_outputFolder.isEmpty(), "the user the test runs as has no passwd entry");

    m_system = std::make_unique<PrintSystem>();
    const QString failure = m_system->start(cupsd, m_lpstat);
    if (!failure.isEmpty()) {
        // A failure message is cut short; the log goes before it.
        qWarning().noquote() << m_system->log();
        QFAIL(qPrintable(failure + u"; cupsd's log is above"_s));
    }

    m_lpadmin = lpadmin;
    addQueue(queueName, ppd);
    // The same driver without its custom sizes.
    QString fixed = QString::fromLatin1(fileBytes(ppd));
    for (const char *pattern :
         {"\\*VariablePaperSize:[^\n]*\n", "\\*MaxMedia(Width|Height):[^\n]*\n",
          "\\*NonUIOrderDependency:[^\n]*CustomPageSize\n", "\\*CustomPageSize True:.*?\\*End\n",
          "\\*ParamCustomPageSize[^\n]*\n"})
        fixed.remove(QRegularExpression(QLatin1StringView(pattern),
                                        QRegularExpression::DotMatchesEverythingOption));
    m_fixedPpd = m_system->filePath(u"fixed-sizes.ppd"_s);
    QVERIFY(!fixed.contains(u"CustomPageSize"_s) && writeFile(m_fixedPpd, fixed.toLatin1()));
    addQueue(fixedQueueName, m_fixedPpd);

    // libcups, and so Qt's print support, reads it at its first use: after this the
    // program sees the test's cupsd and only it.
    qputenv("CUPS_SERVER", m_system->socketPath().toLocal8Bit());
    qunsetenv("CUPS_USER");
}

void tst_PrintSystem::cleanupTestCase()
{
    m_system.reset();
    for (const QString &path : std::as_const(m_written))
        QFile::remove(path);
}

void tst_PrintSystem::addQueue(const QString &queue, const QString &ppd)
{
    // A failing filter aborts the job rather than stopping the queue, so that the test
    // sees the end of the job at once. Status lines only in cups-pdf's own log.
    const Run added = runTool(m_lpadmin,
                              {u"-h"_s, m_system->socketPath(), u"-p"_s, queue, u"-E"_s, u"-v"_s,
                               u"cups-pdf:/"_s, u"-P"_s, ppd, u"-o"_s,
                               u"printer-error-policy=abort-job"_s, u"-o"_s, u"LogType=3"_s});
    if (added.status != 0) {
        qWarning().noquote() << m_system->log();
        QFAIL(qPrintable(u"lpadmin: "_s + added.out));
    }
}

// The receipt's number is drawn at random: the output file is named after it, and another
// run may be printing into the same folder at the same time.
void tst_PrintSystem::init()
{
    m_environment = std::make_unique<TestEnvironment>();
    m_environment->createDatabase();
    m_receiptNo = QString::number(QRandomGenerator::global()->bounded(1000000, 10000000));
    m_id = u"PRINTSYSTEM-"_s + m_receiptNo;
    QVERIFY(m_environment->storeReceipt(m_id, m_receiptNo, u"2024-05-01 00:00:00"_s, u"甲公司"_s,
                                        1234.5));
}

void tst_PrintSystem::printThrough(const QString &queue, const QString &notice, QString *pdf)
{
    const auto endedJobs = [&] {
        return runTool(m_lpstat,
                       {u"-h"_s, m_system->socketPath(), u"-W"_s, u"completed"_s, u"-o"_s, queue})
            .out.split(u'\n', Qt::SkipEmptyParts);
    };
    const qsizetype endedBefore = endedJobs().size();
    const QDateTime started = QDateTime::currentDateTime().addSecs(-2);
    QPrinter printer(QPrinter::HighResolution);
    printer.setPrinterName(queue);
    QCOMPARE(printer.printerName(), queue); // Qt sees the test's queue
    QString error;
    QString told = u"left from before"_s;
    QVERIFY2(ReceiptPrinter::printReceipts(printer, {m_id}, &error, std::nullopt, &told),
             qPrintable(error));
    QVERIFY2(notice.isEmpty() ? told.isEmpty() : told.contains(notice), qPrintable(told));

    // The job ends (completed, or aborted by a filter) once the backend has written the
    // file; the queue has no other job.
    QElapsedTimer waited;
    waited.start();
    QStringList ended;
    while (waited.elapsed() < jobTimeoutMs) {
        ended = endedJobs();
        if (ended.size() > endedBefore)
            break;
        QThread::msleep(200);
    }
    if (ended.size() <= endedBefore) {
        qWarning().noquote() << m_system->log();
        QFAIL("the job did not end; cupsd's log is above");
    }

    QStringList pdfs;
    const QDir output(m_outputFolder);
    for (const QFileInfo &file :
         output.entryInfoList({u"*"_s + m_receiptNo + u"*.pdf"_s}, QDir::Files)) {
        if (file.lastModified() >= started && !m_written.contains(file.absoluteFilePath()))
            pdfs.append(file.absoluteFilePath());
    }
    m_written += pdfs;
    if (pdfs.size() != 1) {
        qWarning().noquote() << m_system->log();
        QFAIL(qPrintable(u"cups-pdf wrote %1 files for receipt %2 in %3 (job: %4); cupsd's log "
                         u"is above"_s.arg(QString::number(pdfs.size()), m_receiptNo,
                                           m_outputFolder, ended.join(u' '))));
    }
    *pdf = pdfs.constFirst();
}

void tst_PrintSystem::pageAsLaidOut(const QString &pdf, const QSizeF &mm, qreal scale)
{
    const Run info = runTool(m_pdfinfo, {pdf});
    static const QRegularExpression size(
        u"^Pages:\\s+1$[\\s\\S]*^Page size:\\s+([\\d.]+) x ([\\d.]+) pts"_s,
        QRegularExpression::MultilineOption);
    const auto match = size.match(info.out);
    QVERIFY2(info.status == 0 && match.hasMatch()
                 && qAbs(match.captured(1).toDouble() / pointsPerMm - mm.width()) <= 0.5
                 && qAbs(match.captured(2).toDouble() / pointsPerMm - mm.height()) <= 0.5,
             qPrintable(info.out));
    // At 144 dpi a point is two pixels, and a border drawn smaller still covers one.
    constexpr qreal pixels = 2;
    QTemporaryDir images;
    const QString stem = images.filePath(u"page"_s);
    const Run rendered
        = runTool(m_pdftoppm, {u"-r"_s, u"144"_s, u"-gray"_s, u"-singlefile"_s, pdf, stem});
    QVERIFY2(rendered.status == 0, qPrintable(rendered.out));
    const QImage page(stem + u".pgm"_s);
    QVERIFY(!page.isNull());
    const ReceiptPageLayout layout(
        QRectF(0, 0, ReceiptPrinter::paperWidth, ReceiptPrinter::paperHeight),
        storedReceipt(m_id), CompanyStore::shared().company(),
        ReceiptPageLayout::Options::from(PrintSettings::shared().options()));
    const auto onPage = [&](const QRectF &points) {
        return QRectF(points.topLeft() * scale * pixels, points.size() * scale * pixels);
    };
    for (const Item item : {Item::Number, Item::Payer, Item::Figures}) {
        const ReceiptPageLayout::TextItem *text = layout.find(item);
        QVERIFY(text);
        QVERIFY2(inkIn(page, onPage(text->rect)).dark >= 10,
                 qPrintable(u"no ink on %1"_s.arg(ReceiptPageLayout::itemName(item))));
    }
    // Above the table, left of the title, nothing is drawn: the ink found above is the
    // receipt's, not a page that came out grey or dark all over.
    const ReceiptPageLayout::TextItem *title = layout.find(Item::Title);
    QVERIFY(title);
    const QRectF blank = QRectF(QPointF(layout.tableRect().left(), 4),
                                QPointF(title->rect.left(), layout.tableRect().top()))
                             .adjusted(2, 2, -2, -2);
    QVERIFY(blank.width() > 50 && blank.height() > 20);
    for (const ReceiptPageLayout::TextItem &text : layout.textItems())
        QVERIFY2(!text.rect.intersects(blank), qPrintable(text.text));
    QVERIFY2(inkIn(page, onPage(blank)).darkest > 200, "ink where the receipt has none");
    // The table's border, a line a point wide along each edge, within a point and a half
    // of where the layout puts it: a page moved by the printer's margins, or scaled
    // otherwise than the paper asks, misses it.
    QVERIFY(layout.hasBorder());
    const QRectF table = layout.tableRect();
    const QList<std::pair<const char *, QRectF>> edges {
        {"top", QRectF(table.left() + 20, table.top() - 1.5, table.width() - 40, 3)},
        {"bottom", QRectF(table.left() + 20, table.bottom() - 1.5, table.width() - 40, 3)},
        {"left", QRectF(table.left() - 1.5, table.top() + 20, 3, table.height() - 40)},
        {"right", QRectF(table.right() - 1.5, table.top() + 20, 3, table.height() - 40)},
    };
    for (const auto &[edge, band] : edges) {
        const QRectF area = onPage(band);
        const qreal length = std::max(area.width(), area.height());
        QVERIFY2(inkIn(page, area).dark >= 0.9 * length,
                 qPrintable(u"the border's %1 edge is not where the layout puts it"_s.arg(
                     QLatin1StringView(edge))));
    }
}

// One page of the receipt paper. CUPS keeps whole points of the size Qt asks for
// (683.15 × 263.62 becomes 683 × 263): a fraction of a millimetre short.
void tst_PrintSystem::receiptThroughQueue()
{
    QString pdf;
    printThrough(queueName, {}, &pdf);
    if (!QTest::currentTestFailed())
        pageAsLaidOut(pdf, QSizeF(241, 93), 1);
}

// A queue whose driver has no 241 × 93 mm prints the receipt on its own paper, fitted,
// and the user is told how to add the size; added as the README says, the receipt paper
// is used.
void tst_PrintSystem::fittedOnOtherPaper()
{
    QString pdf;
    printThrough(fixedQueueName, u"缩小到 87% 打印在打印机的 210 × 297 mm 纸上"_s, &pdf);
    if (!QTest::currentTestFailed())
        pageAsLaidOut(pdf, QSizeF(210, 297), 595 / ReceiptPrinter::paperWidth); // whole points
    if (QTest::currentTestFailed())
        return;

    const QString ppd = m_system->filePath(u"with-receipt-paper.ppd"_s);
    QVERIFY(QFile::copy(m_fixedPpd, ppd));
    const Run edited
        = runTool(findTool(u"sed"_s), QStringList {u"-i"_s} + addReceiptPaper + QStringList {ppd});
    QVERIFY2(edited.status == 0, qPrintable(edited.out));
    QVERIFY(QString::fromLatin1(fileBytes(ppd)).count(u"Receipt 241x93mm"_s) == 4);
    addQueue(fixedQueueName, ppd);
    if (!QTest::currentTestFailed())
        printThrough(fixedQueueName, {}, &pdf);
    if (!QTest::currentTestFailed())
        pageAsLaidOut(pdf, QSizeF(241, 93), 1);
}

QTEST_MAIN(tst_PrintSystem)
#include "tst_printsystem.moc"
