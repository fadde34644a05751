#include "app/CquillmereApp.h"

int main(int argc, char** argv)
{
    CquillmereApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    const int result = app.Run();
    app.ExitInstance();
    return result;
}
