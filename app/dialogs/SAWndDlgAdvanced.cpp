#include "app/dialogs/SAWndDlgAdvanced.h"

#include "pipeline/SAPipelineOptions.h"
#include "settings/SASettings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

SAWndDlgAdvanced::SAWndDlgAdvanced(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Advanced"));
    setModal(true);

    auto* groupConnection = new QGroupBox(QStringLiteral("Connection"), this);
    m_pCheckLocalHost = new QCheckBox(QStringLiteral("Enable local host connection"), groupConnection);
    m_pCheckLocalHost->setObjectName(QString::number(IDC_CHECK_LOCAL_HOST));
    auto* layoutConnection = new QVBoxLayout(groupConnection);
    layoutConnection->addWidget(m_pCheckLocalHost);

    auto* groupCompression = new QGroupBox(QStringLiteral("Compression"), this);
    m_pRadioYuv = new QRadioButton(QStringLiteral("YUV"), groupCompression);
    m_pRadioYuv->setObjectName(QString::number(IDC_RADIO_YUV));
    // Offered by the server protocol but not to users: created disabled.
    m_pRadioYuv->setEnabled(false);
    auto* layoutCompression = new QVBoxLayout(groupCompression);
    layoutCompression->addWidget(m_pRadioYuv);

    auto* groupDiagnostics = new QGroupBox(QStringLiteral("Diagnostics"), this);
    m_pCheckScreenUpdateRectangles =
        new QCheckBox(QStringLiteral("Screen update rectangles only"), groupDiagnostics);
    m_pCheckScreenUpdateRectangles->setObjectName(QString::number(IDC_CHECK_SCREEN_UPDATE_RECTANGLES));
    m_pCheckTraceH264Nalu = new QCheckBox(QStringLiteral("Trace H264 NALU"), groupDiagnostics);
    m_pCheckTraceH264Nalu->setObjectName(QString::number(IDC_CHECK_TRACE_H264_NALU));
    m_pCheckSaveEncodedFrames = new QCheckBox(
        QStringLiteral("Save 10 encoded frames to file\n(requires elevated privilege)"), groupDiagnostics);
    m_pCheckSaveEncodedFrames->setObjectName(QString::number(IDC_CHECK_SAVE_ENCODED_FRAMES));
    auto* layoutDiagnostics = new QVBoxLayout(groupDiagnostics);
    layoutDiagnostics->addWidget(m_pCheckScreenUpdateRectangles);
    layoutDiagnostics->addWidget(m_pCheckTraceH264Nalu);
    layoutDiagnostics->addWidget(m_pCheckSaveEncodedFrames);

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
    top->addWidget(groupConnection);
    top->addWidget(groupCompression);
    top->addWidget(groupDiagnostics);
    top->addLayout(buttons);

    m_CompressionType = SASettings::CompressionTypeGet();
    OnInitDialog();

    connect(m_pRadioYuv, &QRadioButton::clicked, this, [this]() { OnBnClickedRadioYuv(); });
    connect(m_pButtonOk, &QPushButton::clicked, this, [this]() { OnBnClickedOk(); });
    connect(m_pButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void SAWndDlgAdvanced::OnInitDialog()
{
    m_pRadioYuv->setChecked(m_CompressionType == SA_SETTINGS_COMPRESSION_YUV);
    m_pCheckLocalHost->setChecked(
        SASettings::SettingsOptionEnableGet(SA_SETTINGS_LOCAL_HOST_CONNECTION_ENABLE));
    m_pCheckScreenUpdateRectangles->setChecked(SAPipelineOptions::s_ScreenUpdateRectanglesOnly.load());
    m_pCheckTraceH264Nalu->setChecked(SAPipelineOptions::s_TraceH264Nalu.load());
    m_pCheckSaveEncodedFrames->setChecked(SAPipelineOptions::s_SaveEncodedFrames.load());
}

void SAWndDlgAdvanced::OnBnClickedRadioYuv()
{
    m_CompressionType = SA_SETTINGS_COMPRESSION_YUV;
    m_pRadioYuv->setChecked(true);
}

void SAWndDlgAdvanced::OnBnClickedOk()
{
    SASettings::CompressionTypeSet(m_CompressionType);
    SAPipelineOptions::s_ScreenUpdateRectanglesOnly.store(m_pCheckScreenUpdateRectangles->isChecked());
    SAPipelineOptions::s_TraceH264Nalu.store(m_pCheckTraceH264Nalu->isChecked());
    SAPipelineOptions::s_SaveEncodedFrames.store(m_pCheckSaveEncodedFrames->isChecked());
    SASettings::SettingsOptionEnableSet(SA_SETTINGS_LOCAL_HOST_CONNECTION_ENABLE,
                                        m_pCheckLocalHost->isChecked());
    accept();
}
