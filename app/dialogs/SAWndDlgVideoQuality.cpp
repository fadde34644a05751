#include "app/dialogs/SAWndDlgVideoQuality.h"

#include "core/SALog.h"
#include "settings/SASettings.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace
{
constexpr int32_t BITS_PER_MBPS = 1000000;

QGroupBox* SliderGroupCreate(QWidget* parent, const char* title, int sliderId, int labelId, QSlider*& slider,
                             QLabel*& label)
{
    auto* group = new QGroupBox(QString::fromUtf8(title), parent);
    slider = new QSlider(Qt::Horizontal, group);
    slider->setObjectName(QString::number(sliderId));
    label = new QLabel(group);
    label->setObjectName(QString::number(labelId));
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("000")));
    auto* layout = new QHBoxLayout(group);
    layout->addWidget(slider, 1);
    layout->addWidget(label);
    return group;
}
} // namespace

SAWndDlgVideoQuality::SAWndDlgVideoQuality(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Video Quality"));
    setModal(true);

    auto* groupCodec = new QGroupBox(QStringLiteral("MPEG Codec ID"), this);
    m_pRadioMpeg1 = new QRadioButton(QStringLiteral("MPEG1"), groupCodec);
    m_pRadioMpeg1->setObjectName(QString::number(IDC_RADIO_MPEG1));
    m_pRadioMpeg2 = new QRadioButton(QStringLiteral("MPEG2"), groupCodec);
    m_pRadioMpeg2->setObjectName(QString::number(IDC_RADIO_MPEG2));
    m_pRadioH264 = new QRadioButton(QStringLiteral("H264"), groupCodec);
    m_pRadioH264->setObjectName(QString::number(IDC_RADIO_H264));
    // An exclusive group starts with no button ticked, which an unknown id keeps.
    m_pGroupCodec = new QButtonGroup(this);
    m_pGroupCodec->addButton(m_pRadioMpeg1);
    m_pGroupCodec->addButton(m_pRadioMpeg2);
    m_pGroupCodec->addButton(m_pRadioH264);
    auto* layoutCodec = new QHBoxLayout(groupCodec);
    layoutCodec->addWidget(m_pRadioMpeg1);
    layoutCodec->addWidget(m_pRadioMpeg2);
    layoutCodec->addWidget(m_pRadioH264);

    QGroupBox* groupBitrate = SliderGroupCreate(this, "Bitrate (Mbps)", IDC_SLIDER_BITRATE,
                                                IDC_STATIC_BITRATE, m_pSliderBitrate, m_pLabelBitrate);
    QGroupBox* groupGop =
        SliderGroupCreate(this, "GOP", IDC_SLIDER_GOP, IDC_STATIC_GOP, m_pSliderGop, m_pLabelGop);
    QGroupBox* groupSearchRange =
        SliderGroupCreate(this, "Motion Estimation Search Range", IDC_SLIDER_SEARCH_RANGE,
                          IDC_STATIC_SEARCH_RANGE, m_pSliderSearchRange, m_pLabelSearchRange);

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
    top->addWidget(groupCodec);
    top->addWidget(groupBitrate);
    top->addWidget(groupGop);
    top->addWidget(groupSearchRange);
    top->addLayout(buttons);

    PrivateValuesRead();
    OnInitDialog();

    connect(m_pRadioMpeg1, &QRadioButton::clicked, this,
            [this]() { OnBnClickedRadioCodec(SA_SETTINGS_MPEG_CODEC_MPEG1); });
    connect(m_pRadioMpeg2, &QRadioButton::clicked, this,
            [this]() { OnBnClickedRadioCodec(SA_SETTINGS_MPEG_CODEC_MPEG2); });
    connect(m_pRadioH264, &QRadioButton::clicked, this,
            [this]() { OnBnClickedRadioCodec(SA_SETTINGS_MPEG_CODEC_H264); });
    connect(m_pSliderBitrate, &QSlider::valueChanged, this,
            [this](int position) { OnHScrollSlider(m_pLabelBitrate, m_BitrateMbps, position); });
    connect(m_pSliderGop, &QSlider::valueChanged, this,
            [this](int position) { OnHScrollSlider(m_pLabelGop, m_GopSize, position); });
    connect(m_pSliderSearchRange, &QSlider::valueChanged, this,
            [this](int position) { OnHScrollSlider(m_pLabelSearchRange, m_SearchRange, position); });
    connect(m_pButtonOk, &QPushButton::clicked, this, [this]() { OnBnClickedOk(); });
    connect(m_pButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void SAWndDlgVideoQuality::PrivateValuesRead()
{
    m_CodecId = SASettings::VideoQualityMpegCodecIdGet();
    if (m_CodecId == 0)
        m_CodecId = SA_SETTINGS_MPEG_CODEC_MPEG1;
    m_BitrateMbps = SASettings::VideoQualityBitrateMbpsGet();
    m_GopSize = SASettings::VideoQualityGOPSizeGet();
    m_SearchRange = SASettings::VideoQualityMotionEstimationSearchRangeGet();
}

void SAWndDlgVideoQuality::OnInitDialog()
{
    switch (m_CodecId)
    {
    case SA_SETTINGS_MPEG_CODEC_MPEG1:
        m_pRadioMpeg1->setChecked(true);
        break;
    case SA_SETTINGS_MPEG_CODEC_MPEG2:
        m_pRadioMpeg2->setChecked(true);
        break;
    case SA_SETTINGS_MPEG_CODEC_H264:
        m_pRadioH264->setChecked(true);
        break;
    default:
        SALog(SA_LOG_FAILURE, "SAWndDlgVideoQuality::OnInitDialog failed! Unexpected Codec Id:%d\n",
              m_CodecId);
        break;
    }

    m_pSliderBitrate->setRange(1, 40);
    m_pSliderGop->setRange(1, 20);
    m_pSliderSearchRange->setRange(0, 15);
    m_pSliderBitrate->setValue(m_BitrateMbps);
    m_pSliderGop->setValue(m_GopSize);
    m_pSliderSearchRange->setValue(m_SearchRange);
    m_pLabelBitrate->setText(QString::asprintf("%d", m_BitrateMbps));
    m_pLabelGop->setText(QString::asprintf("%d", m_GopSize));
    m_pLabelSearchRange->setText(QString::asprintf("%d", m_SearchRange));
    m_pSliderBitrate->setEnabled(true);
    m_pSliderGop->setEnabled(true);
    m_pSliderSearchRange->setEnabled(true);
}

void SAWndDlgVideoQuality::OnBnClickedRadioCodec(int32_t codecId)
{
    m_CodecId = codecId;
}

void SAWndDlgVideoQuality::OnHScrollSlider(QLabel* label, int32_t& member, int position)
{
    member = position;
    label->setText(QString::asprintf("%d", position));
}

void SAWndDlgVideoQuality::OnBnClickedOk()
{
    SASettings::VideoQualityMpegCodecIdSet(m_CodecId);
    SASettings::VideoQualityBitrateSet(m_BitrateMbps * BITS_PER_MBPS);
    SASettings::VideoQualityGOPSizeSet(m_GopSize);
    SASettings::VideoQualityMotionEstimationSearchRangeSet(m_SearchRange);
    accept();
}
