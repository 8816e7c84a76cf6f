/* A stand-in for the lab's ruderari.exe and zozevadi.exe under Windows: it
   records how it was started, says so, then ends. Built twice: with main() as
   an ANSI program, which gets its arguments in the ANSI code page, and with
   wmain() (KESTO_UNICODE) as a Unicode one.

   It writes "<its own path>.args": its working directory and each argument,
   each ended by a NUL. And it appends one line to "tools.log" beside it, the
   fields separated by '|': its name, its working directory, each argument,
   then cmd=<its command line>, acp=<GetACP()>, show=<wShowWindow, -1 when
   not given> and console=<1 when it has a console>. All in UTF-8.

   Then, as a tool prints its messages, it writes "<its name>: <N> argument(s)"
   to its standard output, then the bytes of "<its own path>.print" as they
   are (text in the console's code page, say 852). As ruderari.exe it
   writes the hex file of its first argument anew, as an assembler does. It
   ends with code 0, or
   with the number that "<its own path>.exit" holds, which it then writes to
   its standard error unless it is 0. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static char line[65536];
static size_t used;

static void add(const wchar_t *s, size_t n)
{
    int got = WideCharToMultiByte(CP_UTF8, 0, s, (int)n, line + used, (int)(sizeof line - used - 2), NULL, NULL);
    used += got > 0 ? (size_t)got : 0;
}

static void addText(const wchar_t *s) { add(s, wcslen(s)); }

/* The source's name with its extension replaced by .hex, written anew. */
static void assemble(const wchar_t *source)
{
    static wchar_t hex[32768];
    wchar_t *dot, *slash;
    FILE *f;

    wcscpy(hex, source);
    dot = wcsrchr(hex, L'.');
    slash = wcsrchr(hex, L'\\');
    if (!dot || (slash && dot < slash))
        dot = hex + wcslen(hex);
    wcscpy(dot, L".hex");
    f = _wfopen(hex, L"wb");
    if (f) {
        fprintf(f, ":00000001FF ; %lu\r\n", GetTickCount());
        fclose(f);
    }
}

static int finish(const wchar_t *self, int argc, wchar_t **argv)
{
    static wchar_t path[32768];
    const wchar_t *name = wcsrchr(self, L'\\') + 1;
    unsigned long code = 0;
    char number[32] = "";
    FILE *f;

    printf("%ls: %d argument(s)\n", name, argc - 1);
    fflush(stdout);
    if (_wcsicmp(name, L"ruderari.exe") == 0 && argc > 1)
        assemble(argv[1]);
    swprintf(path, 32768, L"%ls.print", self);
    f = _wfopen(path, L"rb");
    if (f) {
        char bytes[4096];
        DWORD written;
        const size_t n = fread(bytes, 1, sizeof bytes, f);
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, (DWORD)n, &written, NULL);
        fclose(f);
    }
    swprintf(path, 32768, L"%ls.exit", self);
    f = _wfopen(path, L"rb");
    if (f) {
        if (fgets(number, sizeof number, f))
            code = strtoul(number, NULL, 10);
        fclose(f);
    }
    if (code != 0) {
        fprintf(stderr, "%ls: exit code %lu\n", name, code);
        fflush(stderr);
    }
    /* A code past INT_MAX, such as an exception's, as Windows keeps it. */
    ExitProcess((UINT)code);
}

static int record(int argc, wchar_t **argv)
{
    static wchar_t self[32768], cwd[32768], path[32768], target[32768];
    STARTUPINFOW start;
    wchar_t number[64];
    FILE *f;
    int i;

    GetModuleFileNameW(NULL, self, 32768);
    GetCurrentDirectoryW(32768, cwd);
    GetStartupInfoW(&start);

    addText(cwd);
    add(L"", 1);
    for (i = 1; i < argc; ++i) {
        addText(argv[i]);
        add(L"", 1);
    }
    swprintf(path, 32768, L"%ls.part", self);
    f = _wfopen(path, L"wb");
    if (!f || fwrite(line, 1, used, f) != used || fclose(f) != 0)
        return 1;
    swprintf(target, 32768, L"%ls.args", self);
    if (!MoveFileExW(path, target, MOVEFILE_REPLACE_EXISTING))
        return 1;

    used = 0;
    addText(wcsrchr(self, L'\\') + 1);
    add(L"|", 1);
    addText(cwd);
    for (i = 1; i < argc; ++i) {
        add(L"|", 1);
        addText(argv[i]);
    }
    add(L"|cmd=", 5);
    addText(GetCommandLineW());
    swprintf(number, 64, L"|acp=%u|show=%d|console=%d\n", GetACP(),
             (start.dwFlags & STARTF_USESHOWWINDOW) ? (int)start.wShowWindow : -1, GetConsoleWindow() != NULL);
    addText(number);
    wcscpy(path, self);
    wcscpy(wcsrchr(path, L'\\') + 1, L"tools.log");
    /* One write, so that two tools started together do not mix their lines. */
    f = _wfopen(path, L"ab");
    if (!f || setvbuf(f, NULL, _IOFBF, sizeof line) != 0 || fwrite(line, 1, used, f) != used || fclose(f) != 0)
        return 1;
    return finish(self, argc, argv);
}

#ifdef KESTO_UNICODE
int wmain(int argc, wchar_t **argv) { return record(argc, argv); }
#else
int main(int argc, char **argv)
{
    wchar_t **wide = calloc((size_t)argc + 1, sizeof *wide);
    int i;
    for (i = 0; wide && i < argc; ++i) {
        int n = MultiByteToWideChar(CP_ACP, 0, argv[i], -1, NULL, 0);
        wide[i] = calloc(n > 0 ? (size_t)n : 1, sizeof **wide);
        if (!wide[i])
            return 1;
        MultiByteToWideChar(CP_ACP, 0, argv[i], -1, wide[i], n);
    }
    return wide ? record(argc, wide) : 1;
}
#endif
