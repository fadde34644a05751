// Renders each settings dialog, as it opens on a fresh store, into
// <folder>/dialog-<name>.png. Exits non-zero when a picture cannot be made.
// Run it on a private X server (run_under_xvfb.sh), which also gives it a
// fresh store.
#include "app/dialogs/SADisplayModeProviderScreen.h"
#include "app/dialogs/SAWndDlgAdvanced.h"
#include "app/dialogs/SAWndDlgQuality.h"
#include "app/dialogs/SAWndDlgResolutionDialog.h"
#include "app/dialogs/SAWndDlgVideoQuality.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace
{
bool Save(QDialog& dialog, const QString& path)
{
    dialog.show();
    // Let the window be mapped and laid out before it is drawn.
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    const QImage image = dialog.grab().toImage();
    dialog.hide();
    if (image.isNull() || image.width() < 100 || image.height() < 50)
    {
        std::fprintf(stderr, "dialogs_screenshot: %s: empty picture\n", qPrintable(path));
        return false;
    }
    if (!image.save(path, "PNG"))
    {
        std::fprintf(stderr, "dialogs_screenshot: %s: cannot write\n", qPrintable(path));
        return false;
    }
    // Read back: what was written is a whole picture of the dialog.
    const QImage check(path);
    if (check.size() != image.size())
    {
        std::fprintf(stderr, "dialogs_screenshot: %s: unreadable\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(path), image.width(), image.height());
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: dialogs_screenshot <folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder))
    {
        std::fprintf(stderr, "dialogs_screenshot: cannot create %s\n", argv[1]);
        return 1;
    }
    SADisplayModeProviderScreen display;
    SADisplayModeProvider::ProviderSet(&display);
    bool ok = true;
    {
        SAWndDlgResolutionDialog dialog(nullptr);
        ok = Save(dialog, folder + "/dialog-resolutions.png") && ok;
    }
    {
        SAWndDlgQuality dialog(nullptr);
        ok = Save(dialog, folder + "/dialog-quality.png") && ok;
    }
    {
        SAWndDlgAdvanced dialog(nullptr);
        ok = Save(dialog, folder + "/dialog-advanced.png") && ok;
    }
    {
        SAWndDlgVideoQuality dialog(nullptr);
        ok = Save(dialog, folder + "/dialog-video-quality.png") && ok;
    }
    SADisplayModeProvider::ProviderSet(nullptr);
    return ok ? 0 : 1;
}
