#include "application.h"
#include "commandline.h"
#include "editorwin.h"
#include "platform/qtplatform.h"
#include "processend.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <vector>

namespace {

// False when the text did not get out (a full disk behind a redirection).
bool print(std::FILE *stream, const QString &text)
{
    return std::fputs(text.toLocal8Bit().constData(), stream) >= 0 && std::fflush(stream) == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    namespace commandline = kesto::commandline;
    const QStringList args = commandline::argumentsOf(argc, argv);
    // Answered before Qt starts, so that they need no display.
    if (const auto answer = commandline::earlyAnswer(args))
        return print(stdout, *answer) ? 0 : 1;

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

    const commandline::Request request = commandline::parse(
        commandline::argumentsOf(qtArgc, qtArgv.data()) + args.mid(optionsEnd), QDir::currentPath());
    if (!request.error.isEmpty()) {
        print(stderr, request.error);
        return 2;
    }
    if (!request.ignored.isEmpty())
        print(stderr, commandline::ignoredFilesText(request.ignored));

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
