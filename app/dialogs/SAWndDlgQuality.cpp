#include "app/dialogs/SAWndDlgQuality.h"

#include "settings/SASettings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace
{
QRadioButton* RadioCreate(QWidget* parent, int id, const char* text)
{
    auto* button = new QRadioButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::number(id));
    return button;
}
} // namespace

SAWndDlgQuality::SAWndDlgQuality(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Quality/Performance"));
    setModal(true);

    auto* groupCompression = new QGroupBox(QStringLiteral("Compression"), this);
    m_pRadioOn = RadioCreate(groupCompression, IDC_RADIO_COMPRESSION_ON, "On");
    m_pRadioOff = RadioCreate(groupCompression, IDC_RADIO_COMPRESSION_OFF, "Off (RGBA 32bit)");
    auto* warning = new QLabel(QStringLiteral("Warning!"), groupCompression);
    auto* warningText =
        new QLabel(QStringLiteral("Disabling compression can result to low performance."), groupCompression);
    warningText->setWordWrap(true);
    auto* layoutCompression = new QVBoxLayout(groupCompression);
    auto* rowOnOff = new QHBoxLayout;
    rowOnOff->addWidget(m_pRadioOn);
    rowOnOff->addWidget(m_pRadioOff);
    rowOnOff->addStretch(1);
    layoutCompression->addLayout(rowOnOff);
    layoutCompression->addWidget(warning);
    layoutCompression->addWidget(warningText);

    auto* groupEncoding = new QGroupBox(QStringLiteral("Encoding"), this);
    m_pRadioChooseBest =
        RadioCreate(groupEncoding, IDC_RADIO_CHOOSE_BEST, "Choose best (Hardware or Software Encoding)");
    m_pRadioHardware =
        RadioCreate(groupEncoding, IDC_RADIO_HARDWARE_H264, "Hardware Encoding H264 (force always)");
    m_pRadioSoftware =
        RadioCreate(groupEncoding, IDC_RADIO_SOFTWARE_JPEG, "Software Encoding JPEG (force always)");
    // A group rather than auto-exclusion, so that all three can be shown unticked.
    m_pGroupEncoding = new QButtonGroup(this);
    m_pGroupEncoding->addButton(m_pRadioChooseBest);
    m_pGroupEncoding->addButton(m_pRadioHardware);
    m_pGroupEncoding->addButton(m_pRadioSoftware);
    auto* attention = new QLabel(
        QStringLiteral(
            "Attention!\n- Hardware encoding requires quillmere Driver v2.2.02 and above.\n- Using "
            "Hardware Encoding on quillmere primary machine with a graphics card that isn't from "
            "NVIDIA or AMD may lead to poor performance."),
        groupEncoding);
    attention->setWordWrap(true);
    auto* layoutEncoding = new QVBoxLayout(groupEncoding);
    layoutEncoding->addWidget(m_pRadioChooseBest);
    layoutEncoding->addWidget(m_pRadioHardware);
    layoutEncoding->addWidget(m_pRadioSoftware);
    layoutEncoding->addWidget(attention);

    auto* groupQuality = new QGroupBox(QStringLiteral("Quality vs Speed"), this);
    m_pSliderQuality = new QSlider(Qt::Horizontal, groupQuality);
    m_pSliderQuality->setObjectName(QString::number(IDC_SLIDER_QUALITY));
    m_pCheckTurbo =
        new QCheckBox(QStringLiteral("Extra turbo speed (Image resolution reduction)"), groupQuality);
    m_pCheckTurbo->setObjectName(QString::number(IDC_CHECK_TURBO));
    m_pCheckTurbo->setEnabled(false);
    auto* layoutQuality = new QVBoxLayout(groupQuality);
    auto* rowSlider = new QHBoxLayout;
    rowSlider->addWidget(new QLabel(QStringLiteral("Max Speed"), groupQuality));
    rowSlider->addWidget(m_pSliderQuality, 1);
    rowSlider->addWidget(new QLabel(QStringLiteral("Max\nImage Quality"), groupQuality));
    layoutQuality->addLayout(rowSlider);
    layoutQuality->addWidget(m_pCheckTurbo);

    auto* groupFramerate = new QGroupBox(QStringLiteral("Framerate per second (FPS)"), this);
    m_pRadioFps30 = RadioCreate(groupFramerate, IDC_RADIO_FPS_30, "30 FPS");
    m_pRadioFps60 = RadioCreate(groupFramerate, IDC_RADIO_FPS_60, "60 FPS");
    m_pRadioFps90 = RadioCreate(groupFramerate, IDC_RADIO_FPS_90, "90 FPS");
    m_pRadioFps120 = RadioCreate(groupFramerate, IDC_RADIO_FPS_120, "120 FPS");
    auto* layoutFramerate = new QHBoxLayout(groupFramerate);
    layoutFramerate->addWidget(m_pRadioFps30);
    layoutFramerate->addWidget(m_pRadioFps60);
    layoutFramerate->addWidget(m_pRadioFps90);
    layoutFramerate->addWidget(m_pRadioFps120);

    m_pButtonOk = new QPushButton(QStringLiteral("OK"), this);
    m_pButtonOk->setObjectName(QString::number(IDC_OK));
    m_pButtonOk->setDefault(true);
    m_pButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_pButtonCancel->setObjectName(QString::number(IDC_CANCEL));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_pButtonOk);
    buttons->addWidget(m_pButtonCancel);

    auto* top = new QVBoxLayout(this);
    top->addWidget(groupCompression);
    top->addWidget(groupEncoding);
    top->addWidget(groupQuality);
    top->addWidget(groupFramerate);
    top->addLayout(buttons);

    OnInitDialog();

    connect(m_pRadioOn, &QRadioButton::clicked, this, [this]() { OnBnClickedRadioCompressionOn(); });
    connect(m_pRadioOff, &QRadioButton::clicked, this, [this]() { OnBnClickedRadioCompressionOff(); });
    connect(m_pRadioChooseBest, &QRadioButton::clicked, this,
            [this]() { OnBnClickedRadioEncoding(SA_SETTINGS_COMPRESSION_CHOOSE_BEST); });
    connect(m_pRadioHardware, &QRadioButton::clicked, this,
            [this]() { OnBnClickedRadioEncoding(SA_SETTINGS_COMPRESSION_H264); });
    connect(m_pRadioSoftware, &QRadioButton::clicked, this,
            [this]() { OnBnClickedRadioEncoding(SA_SETTINGS_COMPRESSION_JPEG); });
    connect(m_pRadioFps30, &QRadioButton::clicked, this, [this]() { OnBnClickedRadioFramerate(30); });
    connect(m_pRadioFps60, &QRadioButton::clicked, this, [this]() { OnBnClickedRadioFramerate(60); });
    connect(m_pRadioFps90, &QRadioButton::clicked, this, [this]() { OnBnClickedRadioFramerate(90); });
    connect(m_pRadioFps120, &QRadioButton::clicked, this, [this]() { OnBnClickedRadioFramerate(120); });
    // Every change of position, by mouse, wheel or key, is a move.
    connect(m_pSliderQuality, &QSlider::valueChanged, this,
            [this](int position) { OnHScrollSliderQuality(position); });
    connect(m_pCheckTurbo, &QCheckBox::clicked, this, [this]() { OnBnClickedCheckTurbo(); });
    connect(m_pButtonOk, &QPushButton::clicked, this, [this]() { OnBnClickedOk(); });
    connect(m_pButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void SAWndDlgQuality::OnInitDialog()
{
    m_SliderSetting = true;
    m_pSliderQuality->setRange(1, 100);
    m_pSliderQuality->setTickInterval(10);
    m_pSliderQuality->setTickPosition(QSlider::TicksBelow);
    m_pSliderQuality->setPageStep(10);
    m_SliderSetting = false;
    m_CompressionType = SASettings::CompressionTypeGet();
    m_Framerate = SASettings::FramerateGet();
    if (m_CompressionType == SA_SETTINGS_COMPRESSION_NONE)
        m_CompressionOn = false;
    PrivateControlsShow();
}

void SAWndDlgQuality::PrivateControlsShow()
{
    m_pRadioOn->setChecked(m_CompressionOn);
    m_pRadioOff->setChecked(!m_CompressionOn);
    m_pRadioChooseBest->setEnabled(m_CompressionOn);
    m_pRadioHardware->setEnabled(m_CompressionOn);
    m_pRadioSoftware->setEnabled(m_CompressionOn);
    m_pSliderQuality->setEnabled(m_CompressionOn);

    m_pGroupEncoding->setExclusive(false);
    m_pRadioChooseBest->setChecked(false);
    m_pRadioHardware->setChecked(false);
    m_pRadioSoftware->setChecked(false);
    m_pGroupEncoding->setExclusive(true);
    if (m_CompressionOn)
    {
        m_SliderSetting = true;
        m_pSliderQuality->setValue(SASettings::CompressionQualityGet(m_CompressionType));
        m_SliderSetting = false;
        if (m_CompressionType == SA_SETTINGS_COMPRESSION_JPEG)
            m_pRadioSoftware->setChecked(true);
        else if (m_CompressionType == SA_SETTINGS_COMPRESSION_H264)
            m_pRadioHardware->setChecked(true);
        else
            m_pRadioChooseBest->setChecked(true);
    }

    if (m_Framerate == 120)
        m_pRadioFps120->setChecked(true);
    else if (m_Framerate == 90)
        m_pRadioFps90->setChecked(true);
    else if (m_Framerate == 60)
        m_pRadioFps60->setChecked(true);
    else
        m_pRadioFps30->setChecked(true);
}

void SAWndDlgQuality::OnBnClickedRadioCompressionOn()
{
    m_CompressionOn = true;
    // The encoding last confirmed with "OK", not the one shown before "Off".
    m_CompressionType = SASettings::CompressionTypeLastKnownUsedGet();
    PrivateControlsShow();
}

void SAWndDlgQuality::OnBnClickedRadioCompressionOff()
{
    m_CompressionOn = false;
    PrivateControlsShow();
}

void SAWndDlgQuality::OnBnClickedRadioEncoding(int32_t compressionType)
{
    m_CompressionType = compressionType;
    PrivateControlsShow();
}

void SAWndDlgQuality::OnBnClickedRadioFramerate(int32_t framerate)
{
    m_Framerate = framerate;
}

void SAWndDlgQuality::OnHScrollSliderQuality(int position)
{
    if (m_SliderSetting)
        return;
    SASettings::CompressionQualitySet(m_CompressionType, position);
}

void SAWndDlgQuality::OnBnClickedCheckTurbo()
{
    SASettings::ImageResolutionReductionSet(m_CompressionType, m_pCheckTurbo->isChecked());
}

void SAWndDlgQuality::OnBnClickedOk()
{
    if (m_CompressionType != SA_SETTINGS_COMPRESSION_NONE)
        SASettings::CompressionTypeLastKnownUsedSet(m_CompressionType);
    SASettings::CompressionTypeSet(m_CompressionOn ? m_CompressionType : SA_SETTINGS_COMPRESSION_NONE);
    SASettings::QualityChromaSubsamplingSet();
    SASettings::FramerateSet(m_Framerate);
    accept();
}
