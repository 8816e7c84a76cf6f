#include "commandline.h"

#include <QDir>
#include <QFile>

namespace kesto::commandline {

namespace {

const QString endOfOptions = QStringLiteral("--");

// A lone "-" is a name, as for most programs; anything else with a leading
// dash is an option.
bool isOption(const QString &arg) { return arg.size() > 1 && arg.startsWith(u'-'); }

QString helpText()
{
    return QStringLiteral("Użycie: kestoide [OPCJA]... [PLIK]\n"
                          "KESTO IDE: środowisko do pisania programów w asemblerze systemu\n"
                          "mikrokomputerowego KESTO. Otwiera PLIK, jeśli go podano; nazwę względną\n"
                          "liczy od bieżącego katalogu. Z kilku plików otwiera pierwszy.\n"
                          "\n"
                          "  -h, --help     wypisuje ten opis i kończy pracę\n"
                          "      --version  wypisuje wersję programu i kończy pracę\n"
                          "      --         kończy opcje: dalej stoją tylko nazwy plików\n"
                          "\n"
                          "Działają też opcje Qt, m.in. -style STYL, -platform NAZWA, -display EKRAN.\n"
                          "Przy nieznanej opcji program kończy pracę z kodem 2.\n"
                          "\n"
                          "Plik ustawień kestoide.ini leży w bieżącym katalogu.\n");
}

QString versionText()
{
    return QStringLiteral("kestoide (KESTO IDE) " KESTO_VERSION "\n"
                          "Copyright (C) 2026 autorzy KESTO IDE\n"
                          "Licencja GPLv3+: GNU GPL w wersji 3 lub późniejszej "
                          "<https://gnu.org/licenses/gpl.html>.\n"
                          "To jest wolne oprogramowanie: można je zmieniać i rozpowszechniać.\n"
                          "Nie ma ŻADNEJ GWARANCJI w granicach dopuszczanych przez prawo.\n");
}

} // namespace

QStringList argumentsOf(int argc, const char *const *argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QFile::decodeName(argv[i]);
    return args;
}

std::optional<QString> earlyAnswer(const QStringList &args)
{
    for (const QString &arg : args.first(optionsEnd(args))) {
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help"))
            return helpText();
        if (arg == QLatin1String("--version"))
            return versionText();
    }
    return std::nullopt;
}

qsizetype optionsEnd(const QStringList &args)
{
    const qsizetype end = args.indexOf(endOfOptions);
    return end < 0 ? args.size() : end;
}

Request parse(const QStringList &args, const QString &currentDir)
{
    Request request;
    QStringList files;
    const qsizetype end = optionsEnd(args);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (i == end)
            continue;
        const QString &arg = args[i];
        if (i < end && isOption(arg)) {
            request.error = QStringLiteral("kestoide: nieznana opcja: ") + arg +
                            QStringLiteral("\nWpisz \"kestoide --help\", aby zobaczyć opis opcji.\n");
            return request;
        }
        // Made absolute, "" would name the current folder: not what was meant.
        if (arg.isEmpty()) {
            request.error = QStringLiteral("kestoide: pusta nazwa pliku\n");
            return request;
        }
        files << arg;
    }
    if (!files.isEmpty())
        request.file = absoluteFile(files.takeFirst(), currentDir);
    request.ignored = files;
    return request;
}

QString absoluteFile(const QString &name, const QString &currentDir)
{
    // Lexical only: the caption shows the path the way the user reached it.
    return QDir::toNativeSeparators(QDir::cleanPath(QDir(currentDir).absoluteFilePath(name)));
}

QString ignoredFilesText(const QStringList &ignored)
{
    QString text = QStringLiteral("kestoide: otwieram tylko pierwszy plik; pominięte:");
    for (const QString &name : ignored)
        text += QStringLiteral(" \"") + name + u'"';
    return text + u'\n';
}

} // namespace kesto::commandline
