// One process of the whole-process figures. Modes:
//   ide-start            the program's start-up, as main() does it
//   ref-start            a bare QMainWindow holding an empty QsciScintilla
//   ide-open FILE        start-up, then Open of FILE through the real command
//   ref-open UTF8FILE    the bare window, then SCI_SETTEXT of the file's bytes
// Prints "<monotonic ns at first paint> <peak resident KiB>" once the window
// has painted for the first time (after the file is in), then ends at once.

#include "application.h"
#include "editorwin.h"
#include "platform/qtplatform.h"

#include <Qsci/qsciscintilla.h>

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

using namespace kesto;

namespace {

long long monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

long peakKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    }
    return -1;
}

// Reports once the first paint has been flushed to the screen.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QTimer::singleShot(0, [] {
                std::printf("%lld %ld\n", monotonicNs(), peakKiB());
                std::fflush(stdout);
                std::_Exit(0);
            });
        }
        return false;
    }

private:
    bool m_seen = false;
};

// The real platform, with the Open dialog answered by the given file.
class ChoosingPlatform : public kesto::QtPlatform {
public:
    explicit ChoosingPlatform(QString file) : m_file(std::move(file)) {}
    bool showFileDialog(QWidget *, kesto::FileDialog &dlg, kesto::FileDialog::Action) override
    {
        dlg.FileName = m_file;
        return true;
    }

private:
    QString m_file;
};

} // namespace

int main(int argc, char *argv[])
{
    const std::string mode = argc > 1 ? argv[1] : "";
    const QString file = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const bool ours = mode.rfind("ide-", 0) == 0;
    if (ours)
        kesto::prepareEnvironment();
    QApplication app(argc, argv);
    FirstPaint firstPaint;

    if (ours) {
        kesto::installTranslations(app);
        auto *platform = new ChoosingPlatform(file);
        auto *window = new EditorWin(*platform);
        if (mode == "ide-open")
            window->mnuOtworz();
        app.installEventFilter(&firstPaint);
        window->show();
    } else {
        auto *window = new QMainWindow;
        auto *editor = new QsciScintilla(window);
        editor->setUtf8(true);
        window->setCentralWidget(editor);
        if (mode == "ref-open") {
            QByteArray bytes;
            {
                QFile f(file);
                if (!f.open(QIODevice::ReadOnly))
                    return 2;
                bytes = f.readAll();
            }
            editor->SendScintilla(QsciScintillaBase::SCI_SETTEXT, bytes.constData());
        }
        app.installEventFilter(&firstPaint);
        window->show();
    }
    return QApplication::exec();
}
