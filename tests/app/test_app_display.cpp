// The display view end to end under Xvfb with Mesa: the real peer streams raw
// frames over loopback, the viewer decodes and draws them with OpenGL from
// its processor thread, and the window's pixels on the X screen are compared
// with the peer's own picture of its last frame.
#include "AppTestMain.h"
#include "AppTestUtil.h"
#include "app/SAMvcViewFrmConnect.h"
#include "app/SAMvcViewFrmDisplay.h"
#include "app/SAMvcViewFrmText.h"
#include "core/SAUtilAddress.h"
#include "pipeline/SAPipelineOptions.h"
#include "settings/SASettings.h"
#include "tests/core/SATestLogCapture.h"
#include "tests/peer/PeerTestProcess.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace
{
// Waits without running the GUI loop (hang guard only).
bool WaitStill(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

uint32_t Address(const char* text)
{
    uint32_t address = 0;
    SAUtilAddressParse(text, address);
    return address;
}

// The display view's pixels as the X server shows them.
QImage ViewGrab(SAMvcViewFrmDisplay* view)
{
    const QPoint origin = view->mapToGlobal(QPoint(0, 0));
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, origin.x(), origin.y(), view->width(), view->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

double Psnr(const QImage& a, const QImage& b)
{
    double squares = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
        {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int d[3] = {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)};
            squares += d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        }
    const double mse = squares / (3.0 * a.width() * a.height());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// How much bluer than red a picture is on average: red and blue exchanged
// turn its sign, which a PSNR of mostly neutral text may hide.
double BlueOverRed(const QImage& image)
{
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += qBlue(image.pixel(x, y)) - qRed(image.pixel(x, y));
    return sum / (double(image.width()) * image.height());
}

class AppDisplayTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SASettings::Clear();
        SAPipelineOptions::s_ScreenUpdateRectanglesOnly.store(false);
    }
    void TearDown() override { SAPipelineOptions::s_ScreenUpdateRectanglesOnly.store(false); }
};

// Closes the frame and destroys it, checking that the GL objects were
// released on the render thread (the GUI thread cannot make the processor
// thread's context current, so a release left to it fails and leaks them)
// and that nothing on the display's side reports a failure while closing.
void CloseWithoutGlFailure(std::unique_ptr<CMainFrame>& frame)
{
    SATestLogCapture log;
    frame->close();
    frame.reset();
    EXPECT_EQ(log.Count("SAMvcViewFrmDisplay::RendererRelease GL objects released on the render thread\n"),
              1u);
    for (const std::string& line : log.Lines())
    {
        const bool display = line.rfind("PSRenderer", 0) == 0 || line.rfind("SAMvcViewFrmDisplay", 0) == 0 ||
                             line.rfind("CMainFrame", 0) == 0;
        EXPECT_FALSE(display && line.find("failed") != std::string::npos) << line;
    }
}
} // namespace

TEST_F(AppDisplayTest, ShowsThePeersRawPictureAndClosesWhileStreaming)
{
    AppTestMessageBoxWatcher boxes;
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    SAMvcViewFrmDisplay* view = frame->DisplayViewGet();
    const QSize size = frame->CurrentViewGet()->size(); // every view has the size inside the sunken edge
    ASSERT_GT(size.width(), 100);

    // A picture exactly as large as the view: shown 1:1.
    const std::string last = std::filesystem::temp_directory_path() / "qm_app_display_last.png";
    std::filesystem::remove(last);
    constexpr int FRAMES = 40;
    PeerTestProcess peer;
    char sizeText[32];
    std::snprintf(sizeText, sizeof(sizeText), "%dx%d", size.width(), size.height());
    ASSERT_TRUE(
        peer.Start({"--bind", "127.0.0.111", "--codec", "raw", "--size", sizeText, "--fps", "30", "--frames",
                    std::to_string(FRAMES), "--save-last", last, "--exit-after-clients", "1", "--quiet"}));
    frame->ConnectRequest(Address("127.0.0.111"));
    EXPECT_EQ(frame->CurrentViewGet(), static_cast<QWidget*>(frame->TextViewGet()));
    ASSERT_TRUE(AppTestWaitFor(
        [&] {
            return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON &&
                   view->FramesPresentedGet() >= 1;
        }));
    EXPECT_EQ(frame->CurrentViewGet(), static_cast<QWidget*>(view));
    EXPECT_STREQ(view->RendererKindGet(), "full");

    // From here the GUI loop stands still: the peer's closing Disconnect waits
    // in its Send, so the view stays up while the processor presents the rest.
    ASSERT_TRUE(WaitStill([&] { return view->FramesPresentedGet() >= FRAMES; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the X server finishes the last swap
    const QImage shown = ViewGrab(view);
    ASSERT_TRUE(AppTestWaitFor([&] { return std::filesystem::exists(last) && peer.OutputGet().size() > 0; }));
    AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_DISCONNECTED; });
    QImage sent;
    ASSERT_TRUE(AppTestWaitFor([&] { return sent.load(QString::fromStdString(last)); }));
    sent = sent.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(sent.size(), shown.size());
    int differing = 0;
    for (int y = 0; y < sent.height(); ++y)
        for (int x = 0; x < sent.width(); ++x)
            differing += (sent.pixel(x, y) & 0xFFFFFF) != (shown.pixel(x, y) & 0xFFFFFF);
    const double psnr = Psnr(sent, shown);
    if (differing != 0)
    {
        shown.save("test_app_display_shown.png");
        sent.save("test_app_display_sent.png");
    }
    std::printf("1:1 picture: %d of %d pixels differ, PSNR %.2f dB\n", differing,
                sent.width() * sent.height(), psnr);
    EXPECT_EQ(differing, 0);
    peer.Wait();

    // Scaled: a picture half as wide is letterboxed on the dark grey bars.
    std::filesystem::remove(last);
    PeerTestProcess narrow;
    std::snprintf(sizeText, sizeof(sizeText), "%dx%d", size.width() / 2, size.height());
    ASSERT_TRUE(narrow.Start({"--bind", "127.0.0.112", "--codec", "raw", "--size", sizeText, "--fps", "30",
                              "--frames", std::to_string(FRAMES), "--save-last", last, "--exit-after-clients",
                              "1", "--quiet"}));
    const uint64_t before = view->FramesPresentedGet();
    frame->ConnectRequest(Address("127.0.0.112"));
    ASSERT_TRUE(AppTestWaitFor(
        [&]
        {
            return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON &&
                   view->FramesPresentedGet() >= before + 1;
        }));
    ASSERT_TRUE(WaitStill([&] { return view->FramesPresentedGet() >= before + FRAMES; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const QImage letterboxed = ViewGrab(view);
    AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_DISCONNECTED; });
    QImage narrowSent;
    ASSERT_TRUE(AppTestWaitFor([&] { return narrowSent.load(QString::fromStdString(last)); }));
    // 0.04 of full scale on every channel, left and right of the picture.
    const QRgb bar = letterboxed.pixel(2, letterboxed.height() / 2);
    EXPECT_EQ(qRed(bar), 10);
    EXPECT_EQ(qGreen(bar), 10);
    EXPECT_EQ(qBlue(bar), 10);
    EXPECT_EQ(letterboxed.pixel(letterboxed.width() - 3, letterboxed.height() / 2), bar);
    const int left = (size.width() - size.width() / 2) / 2;
    const QImage picture = letterboxed.copy(left, 0, size.width() / 2, size.height());
    const double scaledPsnr = Psnr(narrowSent.convertToFormat(QImage::Format_RGB32), picture);
    if (scaledPsnr <= 30.0)
        letterboxed.save("test_app_display_letterboxed.png");
    std::printf("letterboxed picture: PSNR %.2f dB against the peer's frame\n", scaledPsnr);
    EXPECT_GT(scaledPsnr, 30.0);
    narrow.Wait();

    // Closing while frames stream: the processor may be waiting on the GUI
    // thread; the close must still finish and join it.
    PeerTestProcess endless;
    ASSERT_TRUE(endless.Start(
        {"--bind", "127.0.0.113", "--codec", "raw", "--size", "640x480", "--fps", "0", "--quiet"}));
    frame->ConnectRequest(Address("127.0.0.113"));
    const uint64_t streaming = view->FramesPresentedGet();
    ASSERT_TRUE(AppTestWaitFor([&] { return view->FramesPresentedGet() >= streaming + 10; }));
    // ALT+Enter enters full screen from Display ON, the X button leaves it.
    ASSERT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_CONNECTED_DISPLAY_ON);
    QTest::keyClick(frame.get(), Qt::Key_Return, Qt::AltModifier);
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_CONNECTED_FULLSCREEN);
    AppTestWaitFor([&] { return frame->geometry() == QGuiApplication::primaryScreen()->geometry(); }, 5000);
    EXPECT_EQ(frame->geometry(), QGuiApplication::primaryScreen()->geometry());
    ASSERT_NE(frame->XButtonGet(), nullptr);
    QTest::mouseClick(frame->XButtonGet(), Qt::LeftButton);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON; }));
    EXPECT_EQ(frame->XButtonGet(), nullptr);
    EXPECT_EQ(frame->CurrentViewGet(), static_cast<QWidget*>(view));
    QTest::keyClick(frame.get(), Qt::Key_Return, Qt::AltModifier);
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_CONNECTED_FULLSCREEN);
    QTest::keyClick(frame.get(), Qt::Key_Escape);
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_CONNECTED_DISPLAY_ON);
    const uint64_t resumed = view->FramesPresentedGet();
    ASSERT_TRUE(AppTestWaitFor([&] { return view->FramesPresentedGet() >= resumed + 10; }));

    const auto start = std::chrono::steady_clock::now();
    CloseWithoutGlFailure(frame);
    const auto closed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("close while streaming took %lld ms\n", static_cast<long long>(closed.count()));
    for (const std::string& text : boxes.m_Texts)
        std::printf("message box: %s\n", text.c_str());
}

// On the software rasteriser an untransformed picture goes to the window
// without GL; a zoom hands it back to GL, which must draw the picture the
// window showed, not the texture as it was before GL stepped aside.
TEST_F(AppDisplayTest, AnUntransformedPictureBypassesGlAndAZoomDrawsItWithGl)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    SAMvcViewFrmDisplay* view = frame->DisplayViewGet();
    const QSize size = frame->CurrentViewGet()->size();
    const std::string last = std::filesystem::temp_directory_path() / "qm_app_display_still.png";
    std::filesystem::remove(last);
    PeerTestProcess peer;
    char sizeText[32];
    std::snprintf(sizeText, sizeof(sizeText), "%dx%d", size.width(), size.height());
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.114", "--codec", "raw", "--size", sizeText, "--still",
                            "--save-last", last, "--exit-after-clients", "1", "--quiet"}));
    SATestLogCapture log;
    frame->ConnectRequest(Address("127.0.0.114"));
    const std::string bypass = "PSRendererGL::Present the picture is shown without GL\n";
    ASSERT_TRUE(AppTestWaitFor([&] { return view->FramesPresentedGet() >= 1 && log.Count(bypass) == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const QImage shown = ViewGrab(view);
    // Put from the frame's own memory, not from a copy of it.
    EXPECT_EQ(log.Count("PSRendererSurfaceQt::PixelsBlockCreate the frame's " +
                        std::to_string(size.width() * size.height() * 4) +
                        " bytes are shared with the X server\n"),
              1u);
    // A smaller window, where GL draws the picture scaled: at the window's
    // new size, not at the size its drawable had when GL last stepped aside.
    const std::string drawn = "PSRendererGL::Present the picture is drawn with GL\n";
    frame->resize(frame->size() - QSize(160, 120));
    ASSERT_TRUE(AppTestWaitFor([&] { return log.Count(drawn) == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const QImage resized = ViewGrab(view);
    frame->resize(frame->size() + QSize(160, 120));
    ASSERT_TRUE(AppTestWaitFor([&] { return log.Count(bypass) == 2; }));

    QWheelEvent wheel(QPointF(size.width() / 2, size.height() / 2), QPointF(), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view->WindowGet(), &wheel);
    ASSERT_TRUE(AppTestWaitFor([&] { return log.Count(drawn) == 2; }));
    // Some rasterisers take a faster way for a picture they have drawn a few
    // times: it is drawn again a few times (zoomed out and in again) before
    // it is looked at.
    QWheelEvent back(QPointF(size.width() / 2, size.height() / 2), QPointF(), QPoint(), QPoint(0, -120),
                     Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    for (int i = 0; i < 5; ++i)
    {
        QCoreApplication::sendEvent(view->WindowGet(), &back);
        AppTestSpin(50);
        QCoreApplication::sendEvent(view->WindowGet(), &wheel);
        AppTestSpin(50);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const QImage zoomed = ViewGrab(view);
    CloseWithoutGlFailure(frame);
    QImage sent;
    ASSERT_TRUE(AppTestWaitFor([&] { return sent.load(QString::fromStdString(last)); }));
    sent = sent.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(sent.size(), shown.size());
    EXPECT_EQ(Psnr(sent, shown), 99.0);
    // Zoomed about the centre, the middle of the picture barely moves (about
    // 21 dB here; a texture left behind gives under 2).
    const QRect middle(size.width() / 2 - 32, size.height() / 2 - 32, 64, 64);
    const double zoomedPsnr = Psnr(sent.copy(middle), zoomed.copy(middle));
    std::printf("zoomed picture: PSNR %.2f dB in the middle against the peer's frame\n", zoomedPsnr);
    EXPECT_GT(zoomedPsnr, 12.0);
    // Scaled to fit, the middle of the picture stays in the middle of the
    // window (about 17 dB here; drawn at the old size, about 10).
    const double scale =
        std::min(double(resized.width()) / sent.width(), double(resized.height()) / sent.height());
    const QImage fitted = sent.scaled(std::lround(sent.width() * scale), std::lround(sent.height() * scale),
                                      Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const double resizedPsnr =
        Psnr(fitted.copy(fitted.width() / 2 - 32, fitted.height() / 2 - 32, 64, 64),
             resized.copy(resized.width() / 2 - 32, resized.height() / 2 - 32, 64, 64));
    std::printf("resized picture: PSNR %.2f dB in the middle against the peer's frame\n", resizedPsnr);
    EXPECT_GT(resizedPsnr, 14.0);
    // Drawn, the colours stay what they were: the peer's desktop is much
    // bluer than red.
    EXPECT_GT(BlueOverRed(sent), 40.0);
    EXPECT_NEAR(BlueOverRed(zoomed), BlueOverRed(sent), 10.0);
    peer.Wait();
}

TEST_F(AppDisplayTest, ConnectingShowsTheTextViewThenAFailureReturnsToTheConnectView)
{
    AppTestMessageBoxWatcher boxes;
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    // Nothing listens on this loopback address: the attempt is refused.
    frame->ConnectRequest(Address("127.0.0.114"));
    EXPECT_EQ(frame->CurrentViewGet(), static_cast<QWidget*>(frame->TextViewGet()));
    EXPECT_TRUE(frame->TextViewGet()->LineGet(1)->text().startsWith("Connecting to"));
    ASSERT_TRUE(AppTestWaitFor(
        [&] { return frame->FstmStateGet() == SA_FSTM_STATE_DISCONNECTED && !boxes.m_Texts.empty(); }));
    EXPECT_EQ(frame->CurrentViewGet(), static_cast<QWidget*>(frame->ConnectViewGet()));
    EXPECT_NE(boxes.m_Texts[0].find("Unable to connect!"), std::string::npos) << boxes.m_Texts[0];
    frame->close();
}

namespace
{
// The colour the update-areas renderer gives a pixel of a rectangle drawn
// as a gradient quad: corners top-left green, top-right yellow, bottom-left
// red, bottom-right blue, two triangles split along the diagonal from the
// top-left to the bottom-right corner, sampled at the pixel's centre.
QRgb GradientAt(const QRect& quad, int x, int y)
{
    const double u = (x + 0.5 - quad.x()) / quad.width();
    const double v = (y + 0.5 - quad.y()) / quad.height();
    double r, g, b;
    if (v >= u) // green, red, blue
    {
        g = 1 - v;
        r = v - u;
        b = u;
    }
    else // green, yellow, blue
    {
        g = 1 - u + (u - v);
        r = u - v;
        b = v;
    }
    return qRgb(qRound(r * 255), qRound(g * 255), qRound(b * 255));
}

int ChannelDistance(QRgb a, QRgb b)
{
    return std::max(
        {std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}
} // namespace

TEST_F(AppDisplayTest, UpdateRectanglesModeDrawsExactlyTheThreeFragmentsOfEachFrame)
{
    // "Screen update rectangles only": the processor asks for the
    // update-areas renderer, which draws each fragment's rectangle as a
    // gradient quad into its back buffer and shows that 1:1.
    SAPipelineOptions::s_ScreenUpdateRectanglesOnly.store(true);
    AppTestMessageBoxWatcher boxes;
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    SAMvcViewFrmDisplay* view = frame->DisplayViewGet();
    ASSERT_TRUE(AppTestWaitFor([&] { return view->RendererExistsGet(); }));
    EXPECT_STREQ(view->RendererKindGet(), "areas");

    // A server screen smaller than the view: beyond it the window keeps its
    // clear colour.
    const int width = 480, height = 300;
    ASSERT_GT(frame->centralWidget()->width(), width + 20);
    ASSERT_GT(frame->centralWidget()->height(), height + 20);
    const std::string last = std::filesystem::temp_directory_path() / "qm_app_display_areas_last.png";
    std::filesystem::remove(last);
    constexpr int FRAMES = 20;
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.116", "--codec", "raw", "--size", "480x300", "--fragments",
                            "3", "--fps", "30", "--frames", std::to_string(FRAMES), "--save-last", last,
                            "--exit-after-clients", "1", "--quiet"}));
    frame->ConnectRequest(Address("127.0.0.116"));
    ASSERT_TRUE(AppTestWaitFor(
        [&] {
            return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON &&
                   view->FramesPresentedGet() >= 1;
        }));
    EXPECT_STREQ(view->RendererKindGet(), "areas");
    // The GUI loop stands still from here, so the view stays up (see above).
    ASSERT_TRUE(WaitStill([&] { return view->FramesPresentedGet() >= FRAMES; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const QImage shown = ViewGrab(view);
    AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_DISCONNECTED; });
    QImage sent;
    ASSERT_TRUE(AppTestWaitFor([&] { return sent.load(QString::fromStdString(last)); }));
    ASSERT_EQ(sent.size(), QSize(width, height));

    // Band by band, as the peer cut its frame: rows i*H/3 to (i+1)*H/3, the
    // full width. Each band is its own gradient quad, exactly over its rows.
    const int bands = 3;
    for (int i = 0; i < bands; ++i)
    {
        const QRect band(0, i * sent.height() / bands, sent.width(),
                         (i + 1) * sent.height() / bands - i * sent.height() / bands);
        int wrong = 0, worst = 0;
        for (int y = band.top(); y <= band.bottom(); ++y)
            for (int x = band.left(); x <= band.right(); ++x)
            {
                const int distance = ChannelDistance(shown.pixel(x, y), GradientAt(band, x, y));
                worst = std::max(worst, distance);
                wrong += distance > 4;
            }
        EXPECT_EQ(wrong, 0) << "band " << i << ": " << wrong << " pixels off, worst by " << worst;
        // Its first row starts green, its last row ends blue: the quads meet
        // at the band borders and do not overlap.
        EXPECT_GT(qGreen(shown.pixel(0, band.top())), 240) << i;
        EXPECT_GT(qBlue(shown.pixel(band.right(), band.bottom())), 240) << i;
    }
    // Nothing else was drawn: the rest of the view is the clear colour.
    int drawnOutside = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (x >= width || y >= height)
                drawnOutside += (shown.pixel(x, y) & 0xFFFFFF) != 0x0A0A0A;
    EXPECT_EQ(drawnOutside, 0);
    if (drawnOutside != 0 || HasFailure())
        shown.save("test_app_display_areas_shown.png");
    peer.Wait();
    CloseWithoutGlFailure(frame);
}

// WM_APP+22 from a decoder task: one information box "Decoding failure" with
// the kind's text, then the disconnect event carrying the kind to the frame;
// any later error of the same view shows nothing and sends nothing.
TEST_F(AppDisplayTest, H264ErrorShowsOneBoxThenDisconnectsWithTheKind)
{
    struct FrameRecorder : SAMessageTarget
    {
        bool Post(uint32_t, uintptr_t, intptr_t) override { return true; }
        intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override
        {
            m_Sent.push_back({message, wParam, static_cast<uintptr_t>(lParam)});
            return 0;
        }
        std::vector<std::vector<uintptr_t>> m_Sent;
    };
    const std::string advice = "\nPlease consider switching to Software Encoding in "
                               "Settings->Quality/Performance.\n\nYour current session will be disconnected";
    const std::string texts[2] = {
        "Decoding failure: Hardware decoder H264 ran into an initialization error." + advice,
        "Decoding failure: Hardware decoder H264 ran into a decoding error." + advice + "."};
    AppTestMessageBoxWatcher boxes;
    for (intptr_t kind : {1, 2})
    {
        FrameRecorder frame;
        SAMvcViewFrmDisplay view(&frame, nullptr);
        view.MessageTargetGet()->Send(SA_WM_APP_H264_ERROR, 0, kind);
        view.MessageTargetGet()->Send(SA_WM_APP_H264_ERROR, 0, 3 - kind);
        EXPECT_EQ(frame.m_Sent, (std::vector<std::vector<uintptr_t>>{{SA_WM_APP_FSTM_EVENT,
                                                                      SA_FSTM_EVENT_MENU_DISCONNECT_SERVER,
                                                                      static_cast<uintptr_t>(kind)}}));
    }
    EXPECT_EQ(boxes.m_Texts, (std::vector<std::string>{texts[0], texts[1]}));
    EXPECT_EQ(boxes.m_Icons,
              (std::vector<QMessageBox::Icon>{QMessageBox::Information, QMessageBox::Information}));
}

TEST_F(AppDisplayTest, ClosingAnIdleViewerReleasesItsGlObjectsOnTheRenderThread)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    // The processor makes a renderer (and its GL objects) as it starts.
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->DisplayViewGet()->RendererExistsGet(); }));
    CloseWithoutGlFailure(frame);
}

TEST_F(AppDisplayTest, TimerOneRaisesTheTimerEventWhileAConnectionIsActive)
{
    AppTestMessageBoxWatcher boxes;
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    frame->TimerIntervalSet(50);
    EXPECT_FALSE(frame->TimerActiveGet());
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start(
        {"--bind", "127.0.0.115", "--codec", "raw", "--size", "320x240", "--fps", "10", "--quiet"}));
    SATestLogCapture log;
    AppTestSpin(200);
    EXPECT_EQ(log.Count("SAFstm::ProcessEvent Event:15 SA_FSTM_EVENT_TIMER\n"), 0u)
        << "not before a connection";
    frame->ConnectRequest(Address("127.0.0.115"));
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON; }));
    EXPECT_TRUE(frame->TimerActiveGet());
    // No transition acts on it: the machine stays where it is. The state
    // line follows the event line on the machine's thread, so both are
    // waited for.
    const auto stays = [&]
    {
        size_t steps = 0;
        for (const std::string& line : log.Lines())
            if (line.rfind("SAFstm::ProcessEvent State:4 ", 0) == 0 &&
                line.find("==>> 4 ") != std::string::npos)
                ++steps;
        return steps;
    };
    ASSERT_TRUE(AppTestWaitFor(
        [&]
        { return log.Count("SAFstm::ProcessEvent Event:15 SA_FSTM_EVENT_TIMER\n") >= 3 && stays() >= 3; }));
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_CONNECTED_DISPLAY_ON);

    // Back in state 0 the timer stops.
    frame->ActionGet(ID_FILE_DISCONNECT)->trigger();
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_DISCONNECTED; }));
    EXPECT_FALSE(frame->TimerActiveGet());
    const size_t stopped = log.Count("SAFstm::ProcessEvent Event:15 SA_FSTM_EVENT_TIMER\n");
    AppTestSpin(300);
    EXPECT_EQ(log.Count("SAFstm::ProcessEvent Event:15 SA_FSTM_EVENT_TIMER\n"), stopped);
    CloseWithoutGlFailure(frame);
}

QM_APP_TEST_MAIN()
