#include "application.h"
#include "commandline.h"
#include "consoleio.h"
#include "editorwin.h"
#include "platform/qtplatform.h"
#include "processend.h"

#include <QApplication>
#include <QDir>

#include <algorithm>
#include <vector>

int main(int argc, char *argv[])
{
    namespace commandline = kesto::commandline;
    using kesto::consoleio::print;
    using kesto::consoleio::Stream;
    const QStringList args = kesto::consoleio::systemArguments(argc, argv);
    // Answered before Qt starts, so that they need no display.
    if (const auto answer = commandline::earlyAnswer(args))
        return print(Stream::Out, *answer) ? 0 : 1;

    // Qt takes its options out of this copy, which must live as long as the
    // application object.
    const qsizetype optionsEnd = commandline::optionsEnd(args);
    int qtArgc = 1 + static_cast<int>(optionsEnd);
    std::vector<char *> qtArgv(argv, argv + qtArgc);
    qtArgv.push_back(nullptr);

    kesto::prepareEnvironment();
    QApplication app(qtArgc, qtArgv.data());
    QApplication::setApplicationName(QStringLiteral("KESTO IDE"));
    QGuiApplication::setDesktopFileName(QStringLiteral("kestoide"));

    // What Qt left are main()'s own strings: each is taken as the system
    // gave it (on Windows in UTF-16), found by its address.
    QStringList left;
    for (int i = 1; i < qtArgc; ++i) {
        const auto at = std::find(argv + 1, argv + argc, qtArgv[i]);
        left << (at != argv + argc ? args.at(at - argv - 1) : QString::fromLocal8Bit(qtArgv[i]));
    }
    const commandline::Request request = commandline::parse(left + args.mid(optionsEnd), QDir::currentPath());
    if (!request.error.isEmpty()) {
        print(Stream::Err, request.error);
        return 2;
    }
    if (!request.ignored.isEmpty())
        print(Stream::Err, commandline::ignoredFilesText(request.ignored));

    kesto::installTranslations(app);
    kesto::QtPlatform platform;
    kesto::EditorWin window(platform);
    // A logout, a shutdown, a kill or the display going away keeps the unsaved text.
    const kesto::EndWatch endWatch([&window] { window.keepUnsavedTextAtEnd(); });
    window.show();
    // Once the window is up: what the session starts with may ask questions.
    QMetaObject::invokeMethod(
        &window, [&window, file = request.file] { window.startSession(file); }, Qt::QueuedConnection);
    return QApplication::exec();
}
