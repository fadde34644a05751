#include "app/CquillmereApp.h"
#include "core/PSMemory.h"

int main(int argc, char** argv)
{
    PSMemoryLargeBlocksKeep();
    CquillmereApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    const int result = app.Run();
    app.ExitInstance();
    return result;
}
