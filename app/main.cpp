#include "app/CquillmereApp.h"
#include "core/PSMemory.h"

#include <cstdio>
#include <string_view>

int main(int argc, char** argv)
{
    // Answered before Qt starts: without a display it would end the process
    // instead, and with one it would open the window.
    for (int i = 1; i < argc; ++i)
    {
        const std::string_view arg = argv[i];
        if (arg == "--version")
        {
            std::printf("quillmere-viewer %s\n", QM_VERSION);
            return 0;
        }
        if (arg == "--help" || arg == "-h")
        {
            std::fputs("usage: quillmere-viewer [QT-OPTION...]\n"
                       "Shows the screen of another computer on the same network and sends input back.\n"
                       "Qt's standard options, such as -platform NAME or -display DISPLAY, are accepted;\n"
                       "settings are changed in the Settings menu or with quillmere-reg.\n"
                       "  -h, --help  print this text and exit\n"
                       "  --version   print the version and exit\n",
                       stdout);
            return 0;
        }
    }
    PSMemoryLargeBlocksKeep();
    CquillmereApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    const int result = app.Run();
    app.ExitInstance();
    return result;
}
