#include "app/dialogs/SAWndDlgResolutionDialog.h"

#include "app/dialogs/SAUtilSystemDpi.h"
#include "app/dialogs/SAWndSpinBoxStepped.h"
#include "core/SALog.h"
#include "settings/SASettings.h"
#include "settings/SAWndDlgResolution.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace
{
constexpr int32_t SPIN_STEP = 2;
// Drop-down width at 96 DPI before the text allowance, in device pixels.
constexpr int32_t DROPPED_WIDTH_BASE = 60;
} // namespace

SAWndDlgResolutionDialog::SAWndDlgResolutionDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Resolutions"));
    setModal(true);

    m_pCheckNative = new QCheckBox(QStringLiteral("Native Screen Resolution"), this);
    m_pCheckNative->setObjectName(QString::number(IDC_CHECK_NATIVE));
    m_pEditNative = new QLineEdit(this);
    m_pEditNative->setObjectName(QString::number(IDC_EDIT_NATIVE));
    m_pEditNative->setReadOnly(true);

    m_pCheckOther = new QCheckBox(QStringLiteral("Other Screen Resolution"), this);
    m_pCheckOther->setObjectName(QString::number(IDC_CHECK_OTHER));
    m_pComboOther = new QComboBox(this);
    m_pComboOther->setObjectName(QString::number(IDC_COMBO_OTHER));
    m_pSpinWidth = new SAWndSpinBoxStepped(this);
    m_pSpinWidth->setObjectName(QString::number(IDC_EDIT_WIDTH));
    m_pSpinHeight = new SAWndSpinBoxStepped(this);
    m_pSpinHeight->setObjectName(QString::number(IDC_EDIT_HEIGHT));

    m_pButtonApply = new QPushButton(QStringLiteral("Apply"), this);
    m_pButtonApply->setObjectName(QString::number(IDC_APPLY));
    m_pButtonApply->setDefault(true);
    m_pButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_pButtonCancel->setObjectName(QString::number(IDC_CANCEL));

    auto* grid = new QGridLayout;
    grid->addWidget(m_pCheckNative, 0, 0);
    grid->addWidget(m_pEditNative, 0, 1);
    grid->addWidget(m_pCheckOther, 1, 0);
    grid->addWidget(m_pComboOther, 1, 1);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(m_pSpinWidth);
    sizeRow->addWidget(new QLabel(QStringLiteral("x"), this));
    sizeRow->addWidget(m_pSpinHeight);
    grid->addLayout(sizeRow, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_pButtonApply);
    buttons->addWidget(m_pButtonCancel);
    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addLayout(buttons);

    OnInitDialog();

    connect(m_pCheckNative, &QCheckBox::clicked, this, [this]() { PrivateEnableStatesUpdate(); });
    connect(m_pCheckOther, &QCheckBox::clicked, this, [this]() { PrivateEnableStatesUpdate(); });
    // "activated" is the user's choice only, so filling the list does not fire it.
    connect(m_pComboOther, &QComboBox::activated, this,
            [this](int index) { OnCbnSelchangeComboResolutionOther(index); });
    m_pSpinWidth->StepHandlerSet([this](int direction) { OnDeltaposSpinWidth(direction); });
    m_pSpinHeight->StepHandlerSet([this](int direction) { OnDeltaposSpinHeight(direction); });
    connect(m_pButtonApply, &QPushButton::clicked, this, [this]() { OnBnClickedOk(); });
    connect(m_pButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void SAWndDlgResolutionDialog::OnInitDialog()
{
    const int32_t type = SASettings::ResolutionTypeGet(); // above 2 already reads as 0
    m_pCheckNative->setChecked(type == SA_SETTINGS_RESOLUTION_NATIVE_AND_OTHER ||
                               type == SA_SETTINGS_RESOLUTION_NATIVE_ONLY);
    int32_t nativeWidth = 0;
    int32_t nativeHeight = 0;
    SAWndDlgResolution::PrivateDisplaySettingsGet(nativeWidth, nativeHeight);
    m_pEditNative->setText(QString::asprintf("%4d  x  %4d", nativeWidth, nativeHeight));

    int32_t customWidth = 0;
    int32_t customHeight = 0;
    SASettings::ResolutionCustomGet(customWidth, customHeight);
    m_pCheckOther->setChecked(type == SA_SETTINGS_RESOLUTION_NATIVE_AND_OTHER ||
                              type == SA_SETTINGS_RESOLUTION_OTHER_ONLY);
    m_pSpinWidth->setValue(customWidth);
    m_pSpinHeight->setValue(customHeight);

    SASettings::ResolutionMinSupportedGet(m_MinWidth, m_MinHeight);
    SASettings::ResolutionMaxSupportedGet(m_MaxWidth, m_MaxHeight);

    PrivateComboFill(nativeWidth, nativeHeight);
    PrivateEnableStatesUpdate();
}

void SAWndDlgResolutionDialog::PrivateComboFill(int32_t nativeWidth, int32_t nativeHeight)
{
    const int64_t maxArea = static_cast<int64_t>(m_MaxWidth) * m_MaxHeight;
    int longestText = 0;
    for (int32_t index = 0; index < SA_RESOLUTION_TABLE_COUNT; ++index)
    {
        int32_t width = 0;
        int32_t height = 0;
        if (!SAWndDlgResolution::ResolutionTableGet(index, width, height))
            continue;
        if (width == nativeWidth && height == nativeHeight)
            continue;
        if (static_cast<int64_t>(width) * height > maxArea)
            continue;
        const QString text = QString::asprintf("%d  x  %d", width, height);
        longestText = std::max(longestText, static_cast<int>(text.size()));
        m_pComboOther->addItem(text, QVariant(index));
    }
    // Like a fresh list, nothing is chosen until the user picks an entry.
    m_pComboOther->setCurrentIndex(-1);

    int32_t dpi = SAUtilSystemDpiGet();
    if (dpi == 0)
    {
        SALog(SA_LOG_FAILURE, "SAWndDlgResolution::OnInitDialog SAUtilSystemDpiGet failed!\n");
        dpi = SA_UTIL_DPI_DEFAULT;
    }
    // The width is reckoned in device pixels; Qt sizes widgets in logical ones.
    const double devicePixels = dpi / 96.0 * DROPPED_WIDTH_BASE + 2.0 * longestText;
    const double ratio = devicePixelRatioF() > 0.0 ? devicePixelRatioF() : 1.0;
    m_pComboOther->view()->setMinimumWidth(static_cast<int>(std::ceil(devicePixels / ratio)));
}

void SAWndDlgResolutionDialog::PrivateEnableStatesUpdate()
{
    const bool native = m_pCheckNative->isChecked();
    const bool other = m_pCheckOther->isChecked();
    m_pEditNative->setEnabled(native);
    m_pComboOther->setEnabled(other);
    m_pSpinWidth->setEnabled(other);
    m_pSpinHeight->setEnabled(other);
    m_pButtonApply->setEnabled(native || other);
}

void SAWndDlgResolutionDialog::OnCbnSelchangeComboResolutionOther(int index)
{
    if (index < 0)
    {
        SALog(SA_LOG_FAILURE,
              "SAWndDlgResolution::OnCbnSelchangeComboResolutionOther CB_GETCURSEL failed!\n");
        return;
    }
    bool ok = false;
    const int tableIndex = m_pComboOther->itemData(index).toInt(&ok);
    int32_t width = 0;
    int32_t height = 0;
    if (!ok || !SAWndDlgResolution::ResolutionTableGet(tableIndex, width, height))
    {
        SALog(SA_LOG_FAILURE,
              "SAWndDlgResolution::OnCbnSelchangeComboResolutionOther CB_GETITEMDATA failed!\n");
        return;
    }
    m_pSpinWidth->setValue(width);
    m_pSpinHeight->setValue(height);
}

void SAWndDlgResolutionDialog::OnDeltaposSpinWidth(int direction)
{
    const int64_t width = static_cast<int64_t>(m_pSpinWidth->value()) + direction * SPIN_STEP;
    if (width < m_MinWidth || width > m_MaxWidth)
        return;
    m_pSpinWidth->setValue(static_cast<int>(width));
}

void SAWndDlgResolutionDialog::OnDeltaposSpinHeight(int direction)
{
    const int64_t height = static_cast<int64_t>(m_pSpinHeight->value()) + direction * SPIN_STEP;
    // The height never passes the width: the other resolution is landscape.
    const int64_t limit = std::min<int64_t>(m_MaxHeight, m_pSpinWidth->value());
    if (height < m_MinHeight || height > limit)
        return;
    m_pSpinHeight->setValue(static_cast<int>(height));
}

void SAWndDlgResolutionDialog::OnBnClickedOk()
{
    const bool native = m_pCheckNative->isChecked();
    const bool other = m_pCheckOther->isChecked();
    int32_t type = SA_SETTINGS_RESOLUTION_OTHER_ONLY;
    if (native && other)
        type = SA_SETTINGS_RESOLUTION_NATIVE_AND_OTHER;
    else if (native)
        type = SA_SETTINGS_RESOLUTION_NATIVE_ONLY;
    else if (!other)
        SALog(SA_LOG_FAILURE, "SAWndDlgResolution::OnBnClickedOk failed! Invalid resolution type!\n");
    SASettings::ResolutionTypeSet(type);
    if (other)
        SASettings::ResolutionCustomSet(m_pSpinWidth->value(), m_pSpinHeight->value());
    else
        SASettings::ResolutionCustomSet(0, 0);
    accept();
}
