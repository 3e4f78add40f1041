// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up of the real program on a book of 100,000 receipts (or --receipts N, or
// QUENTA_BENCH_RECEIPTS=N): runs `quenta --quit-when-shown` several times and times each
// run from the start of the process to the moment it reports its window painted (target:
// within 1 s, and within 1.2x the same start on a book of 1,000 receipts, measured in the
// same run). Runs on the offscreen platform and, when xvfb-run is installed, on xcb with a
// virtual X server.
// Run by hand: build-dir/bin/bench_startup [--receipts N] [runs]

#include "benchdata.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

constexpr double targetMs = 1000;
// A large book starts nearly as fast as a small one.
constexpr int smallBook = 1000;
constexpr double smallBookRatio = 1.2;

struct Run
{
    double toShownMs = 0; // process start to the report on stderr, seen from here
    double insideMs = 0; // the program's own figure, from the start of main
    double toExitMs = 0; // process start to its exit
};

// One start. The report line is read as it arrives, so the time to it does not include
// the program tearing down its window and stores.
std::optional<Run> startOnce(const QString &program, const QStringList &arguments,
                             const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QByteArray errors;
    Run run;
    QElapsedTimer timer;
    static const QRegularExpression shown(u"quenta: window shown after ([0-9.]+) ms"_s);
    QObject::connect(&process, &QProcess::readyReadStandardError, [&] {
        errors += process.readAllStandardError();
        if (run.toShownMs == 0) {
            const QRegularExpressionMatch match = shown.match(QString::fromUtf8(errors));
            if (match.hasMatch()) {
                run.toShownMs = timer.nsecsElapsed() / 1e6;
                run.insideMs = match.captured(1).toDouble();
            }
        }
    });
    timer.start();
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        std::fprintf(stderr, "could not start %s\n", qPrintable(program));
        return std::nullopt;
    }
    while (process.state() != QProcess::NotRunning) {
        if (timer.elapsed() > 60000) {
            process.kill();
            process.waitForFinished();
            std::fprintf(stderr, "gave up after 60 s\n");
            return std::nullopt;
        }
        process.waitForFinished(50);
        // waitForFinished does not deliver readyRead signals to the lambda on its own.
        QCoreApplication::processEvents();
    }
    run.toExitMs = timer.nsecsElapsed() / 1e6;
    errors += process.readAllStandardError();
    if (run.toShownMs == 0) {
        const QRegularExpressionMatch match = shown.match(QString::fromUtf8(errors));
        if (match.hasMatch()) {
            run.toShownMs = run.toExitMs;
            run.insideMs = match.captured(1).toDouble();
        }
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0
        || run.toShownMs == 0) {
        std::fprintf(stderr, "the program did not report a shown window (exit %d):\n%s\n",
                     process.exitCode(), errors.constData());
        return std::nullopt;
    }
    return run;
}

// Runs one way of starting several times and prints its figures; the best time, nothing
// when a run failed.
std::optional<double> measure(const char *name, const QString &program,
                              const QStringList &arguments, const QProcessEnvironment &environment,
                              int runs)
{
    // The first start warms the page cache (program, libraries, fonts, database) and is
    // not counted: a desktop starting the program a second time finds them there too.
    std::printf("%s: warm-up run…\n", name);
    std::fflush(stdout);
    if (!startOnce(program, arguments, environment))
        return std::nullopt;
    QList<double> toShown, inside, toExit;
    for (int i = 0; i < runs; ++i) {
        const std::optional<Run> run = startOnce(program, arguments, environment);
        if (!run)
            return std::nullopt;
        toShown << run->toShownMs;
        inside << run->insideMs;
        toExit << run->toExitMs;
    }
    const double best = *std::min_element(toShown.cbegin(), toShown.cend());
    std::printf("%s, %d runs: window shown after best %.0f ms, median %.0f ms"
                " (inside main: best %.0f ms, median %.0f ms; to exit: median %.0f ms)\n",
                name, runs, best, BenchData::median(toShown),
                *std::min_element(inside.cbegin(), inside.cend()), BenchData::median(inside),
                BenchData::median(toExit));
    std::printf("%s: start-up to shown window %.0f ms (target <= %.0f ms) %s\n", name, best,
                targetMs, BenchData::verdict(best <= targetMs));
    std::fflush(stdout);
    return best;
}

bool met(std::optional<double> best)
{
    return best && *best <= targetMs;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const int size = BenchData::bookSize(&arguments);
    // Given when this benchmark runs itself under xvfb-run, on a database already filled.
    const bool underX = arguments.removeAll(u"--under-x"_s) > 0;
    const int runs = std::max(1, arguments.value(0, u"7"_s).toInt());
    const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(u"quenta"_s);
    if (!QFile::exists(program)) {
        std::fprintf(stderr, "no program at %s: build the target quenta first\n",
                     qPrintable(program));
        return 1;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The platforms warn about what they cannot do; those lines are not results.
    environment.insert(u"QT_LOGGING_RULES"_s, u"qt.qpa.*=false"_s);
    const QStringList quentaArguments = {u"--quit-when-shown"_s};

    if (underX) {
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        return met(measure("xcb (xvfb-run)", program, quentaArguments, environment, runs)) ? 0 : 2;
    }

    // prepareDatabase points QUENTA_DOCUMENTS_DIR and XDG_CONFIG_HOME at its folder.
    const auto offscreenIn = [](const QString &folder) {
        BenchData::pointAt(folder);
        QProcessEnvironment offscreen = QProcessEnvironment::systemEnvironment();
        offscreen.insert(u"QT_LOGGING_RULES"_s, u"qt.qpa.*=false"_s);
        offscreen.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        return offscreen;
    };
    QTemporaryDir smallDir;
    if (BenchData::prepareDatabase(smallDir.path(), smallBook).isEmpty())
        return 1;
    const std::optional<double> small = measure(
        "offscreen, 1,000 receipts", program, quentaArguments, offscreenIn(smallDir.path()), runs);
    QTemporaryDir dir;
    if (BenchData::prepareDatabase(dir.path(), size).isEmpty())
        return 1;
    const QByteArray name = u"offscreen, %1 receipts"_s.arg(size).toUtf8();
    const std::optional<double> large
        = measure(name.constData(), program, quentaArguments, offscreenIn(dir.path()), runs);
    bool ok = small && met(large);
    if (small && large) {
        const double ratio = *large / *small;
        ok = ok && ratio <= smallBookRatio;
        std::printf("start on %d receipts / on %d: %.2fx (target <= %.1fx) %s\n", size, smallBook,
                    ratio, smallBookRatio, BenchData::verdict(ratio <= smallBookRatio));
    }
    environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QT_LOGGING_RULES"_s, u"qt.qpa.*=false"_s);

    const QString xvfbRun = QStandardPaths::findExecutable(u"xvfb-run"_s);
    if (xvfbRun.isEmpty()) {
        std::printf("xcb (xvfb-run): skipped, xvfb-run is not installed\n");
        return ok ? 0 : 2;
    }
    // This benchmark again inside one virtual X server, so the server's own start is not
    // counted in any run of the program.
    QProcess x;
    x.setProcessEnvironment(environment);
    x.setProcessChannelMode(QProcess::ForwardedChannels);
    std::fflush(stdout);
    x.start(xvfbRun,
            {u"-a"_s, u"-s"_s, u"-screen 0 1600x1000x24"_s, QCoreApplication::applicationFilePath(),
             u"--under-x"_s, QString::number(runs)});
    if (!x.waitForFinished(600000) || x.exitStatus() != QProcess::NormalExit) {
        std::fprintf(stderr, "xvfb-run did not finish\n");
        return 1;
    }
    if (x.exitCode() == 1)
        std::fprintf(stderr, "xcb (xvfb-run): could not run\n");
    return ok && x.exitCode() == 0 ? 0 : 2;
}
